#include "platform/crypto.h"

#include "platform/crypto_p.h"
#include "platform/exceptions.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <zlib.h>

#include <algorithm>
#include <climits>

namespace platform {

namespace {

[[noreturn]] void Fail(const char *what)
{
    char reason[256] = "unknown error";
    if (const unsigned long code = ERR_get_error())
        ERR_error_string_n(code, reason, sizeof reason);
    ERR_clear_error();
    throw RuntimeException(std::string("HMAC_SHA_256: ") + what + ": " + reason);
}

// The algorithm object is looked up once; a fetched EVP_MAC is safe to share.
EVP_MAC *HmacAlgorithm()
{
    static EVP_MAC *const mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    if (!mac)
        Fail("the HMAC algorithm is not available");
    return mac;
}

} // namespace

struct HMAC_SHA_256::Impl
{
    EVP_MAC_CTX *ctx = nullptr;
    bool keyed = false;
    bool finished = false; // Final ran: the next message restarts under the same key

    ~Impl() { EVP_MAC_CTX_free(ctx); }

    // A null key restarts the message under the key already set.
    void Init(const unsigned char *key, std::size_t size)
    {
        if (EVP_MAC_init(ctx, key, size, nullptr) != 1)
            Fail("cannot set the key");
        keyed = true;
        finished = false;
    }

    void SetKey(const std::string &key)
    {
        // An empty key must be a real empty key, not a null one.
        static const unsigned char none = 0;
        Init(key.empty() ? &none : reinterpret_cast<const unsigned char *>(key.data()), key.size());
    }

    // The restart after Final is left until it is needed: usually Constructor comes next.
    void Ready()
    {
        if (!keyed)
            SetKey(std::string());
        else if (finished)
            Init(nullptr, 0);
    }
};

HMAC_SHA_256::HMAC_SHA_256()
    : m_impl(std::make_unique<Impl>())
{
    m_impl->ctx = EVP_MAC_CTX_new(HmacAlgorithm());
    if (!m_impl->ctx)
        Fail("cannot make a context");
    // Set once: naming the digest at every key would look the digest up again each time.
    char digest[] = "SHA256";
    const OSSL_PARAM params[]
        = { OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
              OSSL_PARAM_construct_end() };
    if (EVP_MAC_CTX_set_params(m_impl->ctx, params) != 1)
        Fail("cannot choose SHA-256");
}

HMAC_SHA_256::~HMAC_SHA_256() = default;

void HMAC_SHA_256::Constructor(const std::string &key) { m_impl->SetKey(key); }

void HMAC_SHA_256::Update(const std::string &data) { Update(data.data(), data.size()); }

void HMAC_SHA_256::Update(const char *data, std::size_t size)
{
    m_impl->Ready();
    if (size != 0
        && EVP_MAC_update(m_impl->ctx, reinterpret_cast<const unsigned char *>(data), size) != 1)
        Fail("cannot digest the data");
}

std::string HMAC_SHA_256::Final()
{
    m_impl->Ready();
    std::string out(32, '\0');
    std::size_t size = 0;
    if (EVP_MAC_final(m_impl->ctx, reinterpret_cast<unsigned char *>(out.data()), &size, out.size())
            != 1
        || size != out.size())
        Fail("cannot finish the digest");
    m_impl->finished = true;
    return out;
}

uint32_t Crc32(const std::string &bytes, uint32_t crc)
{
    uLong value = crc;
    const auto *p = reinterpret_cast<const Bytef *>(bytes.data());
    std::size_t left = bytes.size();
    // crc32() takes an unsigned int length; feed larger texts in pieces.
    while (left > 0) {
        const uInt piece = uInt(std::min<std::size_t>(left, UINT_MAX & ~uInt(0xFFFF)));
        value = crc32(value, p, piece);
        p += piece;
        left -= piece;
    }
    return uint32_t(value);
}

void detail::InitCryptoForThreads(void (*stopThreads)())
{
    OPENSSL_init_crypto(0, nullptr);
    OPENSSL_atexit(stopThreads);
}

} // namespace platform
