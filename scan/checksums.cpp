#include "scan/loadthread.h"
#include "scan/sha.h"

#include <memory>
#include <vector>

#include "platform/crypto.h"
#include "platform/exceptions.h"
#include "platform/filelist.h"
#include "platform/thread.h"

using namespace platform;

namespace {

// The data fork is fed to the digest in pieces, so memory stays flat for files of any size:
// first a piece that holds a small file whole, then, once a file has filled it, larger ones.
constexpr std::size_t kFirstPiece = 64 << 10;
constexpr std::size_t kPiece = 1 << 20;

// The first pieces' buffers, kept for the next digest: a fresh one for each file cost as much as
// hashing a small file. Digests run side by side in several threads, so each takes its own.
class FirstPieceBuffer
{
public:
    FirstPieceBuffer()
    {
        if (s_spare.empty()) {
            m_bytes.reset(new char[kFirstPiece]);
        } else {
            m_bytes = std::move(s_spare.back());
            s_spare.pop_back();
        }
    }
    ~FirstPieceBuffer()
    {
        if (s_spare.size() < kSpares)
            s_spare.push_back(std::move(m_bytes));
    }
    FirstPieceBuffer(const FirstPieceBuffer &) = delete;
    FirstPieceBuffer &operator=(const FirstPieceBuffer &) = delete;
    char *Get() const { return m_bytes.get(); }

private:
    static constexpr std::size_t kSpares = 4;
    static thread_local std::vector<std::unique_ptr<char[]>> s_spare;
    std::unique_ptr<char[]> m_bytes;
};

thread_local std::vector<std::unique_ptr<char[]>> FirstPieceBuffer::s_spare;

constexpr char kHexDigits[] = "0123456789ABCDEF";

std::string Hex(const std::string &bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        out += kHexDigits[b >> 4];
        out += kHexDigits[b & 0xF];
    }
    return out;
}

std::string Hex8(uint32_t value)
{
    std::string out(8, '0');
    for (int i = 7; i >= 0; --i, value >>= 4)
        out[std::size_t(i)] = kHexDigits[value & 0xF];
    return out;
}

// Feeds `stream` to the digest keyed with `key`, calling `afterPiece` after every piece; "" when
// a read fails midway: the digest of part of a file would pass for the file's own.
template <class Stream, class AfterPiece>
std::string DigestOf(const std::string &key, Stream &stream, AfterPiece afterPiece)
{
    // Key and data go in byte for byte: a conversion that replaced some bytes would let two
    // different contents share a digest, and a corrupted byte could go unnoticed.
    HMAC_SHA_256 mac;
    mac.Constructor(key);
    const FirstPieceBuffer first;
    std::unique_ptr<char[]> large;
    char *buffer = first.Get();
    std::size_t size = kFirstPiece;
    for (;;) {
        const std::size_t n = stream.ReadInto(buffer, size);
        if (n == 0)
            break;
        mac.Update(buffer, n);
        if (n == size && !large) {
            large.reset(new char[kPiece]);
            buffer = large.get();
            size = kPiece;
        }
        afterPiece();
    }
    if (stream.ReadError())
        return "";
    return Hex(mac.Final());
}

} // namespace

std::string DataForkSHA(const Ref<FolderItem> &f)
{
    Ref<BinaryStream> stream = f->OpenAsBinaryFile();
    if (!stream)
        return "";
    std::string digest = DigestOf(f->DisplayName(), *stream, [] { platform::Yield(); });
    stream->Close();
    return digest;
}

std::string DataForkSHAAhead(FileListMBS::AheadFile &file)
{
    // On a worker thread of the system, where there is no cooperative thread to yield to.
    return DigestOf(file.DisplayName(), file, [] {});
}

std::string Loadthread::SHA(const Ref<FolderItem> &f) const { return DataForkSHA(f); }

std::string Loadthread::CalculateResourceFork(
    const Ref<ResourceFork> &fork, const std::string &type)
{
    std::string crc;
    CatchAll("clsCRCFolderItem.Methods.CalculateResourceFork", [&] {
        const int n = fork->ResourceCount(type);
        sResource = "";
        for (int k = 0; k < n; ++k) {
            const int id = fork->ResourceID(type, k);
            // Resource data is taken byte for byte, as the data fork is.
            sResource += fork->GetResource(type, id);
            ++t;
        }
        crc = Hex8(Crc32(sResource, 0));
    });
    return crc;
}
