#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

/// HMAC (RFC 2104) with SHA-256. Feed the message in any number of pieces.
class HMAC_SHA_256
{
public:
    HMAC_SHA_256();
    ~HMAC_SHA_256();
    HMAC_SHA_256(const HMAC_SHA_256 &) = delete;
    HMAC_SHA_256 &operator=(const HMAC_SHA_256 &) = delete;

    /// Starts a new message under `key` (any bytes).
    void Constructor(const std::string &key);
    void Update(const std::string &data);
    void Update(const char *data, std::size_t size);
    /// The 32-byte digest of everything fed since Constructor.
    std::string Final();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

/// The standard CRC-32 (as zlib computes it) of `bytes`, continuing from `crc` (0 to start).
uint32_t Crc32(const std::string &bytes, uint32_t crc);

} // namespace platform
