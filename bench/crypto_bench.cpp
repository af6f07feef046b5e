// Raw throughput of the keyed digest and of CRC-32, fed in pieces of 1 MiB as the scan feeds
// them. The bytes_per_second column is the figure to read; compare it with
// `openssl speed -evp sha256 -bytes 1048576` on the same machine.

#include "platform/crypto.h"

#include <cstdint>
#include <string>

#include <benchmark/benchmark.h>

using namespace platform;

namespace {

constexpr std::size_t kPiece = std::size_t(1) << 20;

const std::string &Piece()
{
    static const std::string piece = [] {
        std::string bytes(kPiece, '\0');
        uint32_t x = 2463534242u;
        for (char &c : bytes) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = char(x);
        }
        return bytes;
    }();
    return piece;
}

// One message of `range(0)` pieces per iteration: key, the pieces, the digest.
void BM_HmacSha256(benchmark::State &state)
{
    const std::string &piece = Piece();
    const int64_t pieces = state.range(0);
    HMAC_SHA_256 mac;
    for (auto _ : state) {
        mac.Constructor("document.txt");
        for (int64_t i = 0; i < pieces; ++i)
            mac.Update(piece);
        benchmark::DoNotOptimize(mac.Final());
    }
    state.SetBytesProcessed(state.iterations() * pieces * int64_t(kPiece));
}
BENCHMARK(BM_HmacSha256)->Arg(1)->Arg(64)->Unit(benchmark::kMillisecond);

// Many small files: the fixed cost of a message (key set-up and digest) shows here.
void BM_HmacSha256_SmallMessage(benchmark::State &state)
{
    const std::string message = Piece().substr(0, std::size_t(state.range(0)));
    HMAC_SHA_256 mac;
    for (auto _ : state) {
        mac.Constructor("document.txt");
        mac.Update(message);
        benchmark::DoNotOptimize(mac.Final());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HmacSha256_SmallMessage)->Arg(0)->Arg(4096);

void BM_Crc32(benchmark::State &state)
{
    const std::string &piece = Piece();
    uint32_t crc = 0;
    for (auto _ : state) {
        crc = Crc32(piece, crc);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kPiece));
}
BENCHMARK(BM_Crc32)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
