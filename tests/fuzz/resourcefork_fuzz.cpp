// libFuzzer target for the resource-fork parser: no input may crash it or make it read outside
// the fork, and what it accepts must answer consistently.
#include "platform/resourcefork.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    const platform::Ref<platform::ResourceFork> parsed = platform::ResourceFork::Parse(bytes);
    const platform::ResourceFork *fork = parsed.Raw();
    if (!fork)
        return 0;
    std::size_t total = 0;
    for (int j = 0; j < fork->TypeCount(); ++j) {
        const std::string type = fork->ResourceType(j);
        Check(!type.empty() && type.size() <= 12); // four characters of up to three bytes
        const int count = fork->ResourceCount(type);
        Check(count >= 0 && count <= 65536);
        for (int k = 0; k < count; ++k) {
            const std::string resource = fork->GetResource(type, fork->ResourceID(type, k));
            Check(resource.size() <= size);
            total += resource.size();
        }
        Check(fork->ResourceID(type, count) == 0);
    }
    Check(fork->ResourceType(fork->TypeCount()).empty());
    (void)total;
    return 0;
}
