#include "scan/loadthread.h"
#include "scan/sha.h"

#include <memory>

#include "platform/crypto.h"
#include "platform/exceptions.h"
#include "platform/thread.h"

using namespace platform;

namespace {

// The data fork is fed to the digest in pieces, so memory stays flat for files of any size:
// first a piece that holds a small file whole, then, once a file has filled it, larger ones.
constexpr std::size_t kFirstPiece = 64 << 10;
constexpr std::size_t kPiece = 1 << 20;

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

} // namespace

std::string DataForkSHA(const Ref<FolderItem> &f)
{
    Ref<BinaryStream> stream = f->OpenAsBinaryFile();
    if (!stream)
        return "";
    // Key and data go in byte for byte: a conversion that replaced some bytes would let two
    // different contents share a digest, and a corrupted byte could go unnoticed.
    HMAC_SHA_256 mac;
    mac.Constructor(f->DisplayName());
    std::size_t size = kFirstPiece;
    std::unique_ptr<char[]> buffer(new char[size]);
    for (;;) {
        const std::size_t n = stream->ReadInto(buffer.get(), size);
        if (n == 0)
            break;
        mac.Update(buffer.get(), n);
        if (n == size && size < kPiece) {
            size = kPiece;
            buffer.reset(new char[size]);
        }
        platform::Yield();
    }
    // The digest of part of a file would pass for the file's own: a read that fails midway
    // counts as a file that cannot be read.
    const bool failed = stream->ReadError();
    stream->Close();
    if (failed)
        return "";
    return Hex(mac.Final());
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
