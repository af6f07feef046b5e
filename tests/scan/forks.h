#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace scantest {

struct ForkType
{
    std::string code; // four characters
    std::vector<std::pair<int16_t, std::string>> resources; // ID and data
};

inline void PutBE(std::string &out, uint32_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out += char((value >> (8 * i)) & 0xFF);
}

/// A classic resource fork holding `types`, laid out as the Resource Manager writes one.
inline std::string BuildFork(const std::vector<ForkType> &types)
{
    constexpr uint32_t kDataOffset = 256;
    std::string data;
    std::vector<std::vector<uint32_t>> offsets;
    for (const ForkType &type : types) {
        offsets.emplace_back();
        for (const auto &[id, bytes] : type.resources) {
            offsets.back().push_back(uint32_t(data.size()));
            PutBE(data, uint32_t(bytes.size()), 4);
            data += bytes;
        }
    }
    std::string typeList;
    PutBE(typeList, types.empty() ? 0xFFFF : uint32_t(types.size() - 1), 2);
    std::string references;
    const uint32_t referencesAt = 2 + 8 * uint32_t(types.size()); // from the type list
    for (std::size_t j = 0; j < types.size(); ++j) {
        const ForkType &type = types[j];
        typeList += type.code;
        PutBE(typeList, type.resources.empty() ? 0xFFFF : uint32_t(type.resources.size() - 1), 2);
        PutBE(typeList, referencesAt + uint32_t(references.size()), 2);
        for (std::size_t k = 0; k < type.resources.size(); ++k) {
            PutBE(references, uint16_t(type.resources[k].first), 2);
            PutBE(references, 0xFFFF, 2); // no name
            PutBE(references, 0, 1); // attributes
            PutBE(references, offsets[j][k], 3);
            PutBE(references, 0, 4); // handle
        }
    }
    std::string map(24, '\0'); // header copy, next map, file reference, attributes
    const uint32_t mapLength = 28 + uint32_t(typeList.size() + references.size());
    PutBE(map, 28, 2); // the type list follows the map header
    PutBE(map, mapLength, 2); // the name list is empty, at the end
    map += typeList + references;

    std::string fork;
    PutBE(fork, kDataOffset, 4);
    PutBE(fork, kDataOffset + uint32_t(data.size()), 4);
    PutBE(fork, uint32_t(data.size()), 4);
    PutBE(fork, uint32_t(map.size()), 4);
    fork.resize(kDataOffset, '\0');
    return fork + data + map;
}

/// An AppleDouble sidecar ("._name") that holds `fork` as its one entry, as Macs write them on
/// foreign volumes.
inline std::string AppleDouble(const std::string &fork)
{
    std::string sidecar;
    PutBE(sidecar, 0x00051607, 4);
    PutBE(sidecar, 0x00020000, 4);
    sidecar += std::string(16, '\0');
    PutBE(sidecar, 1, 2); // one entry: the resource fork
    PutBE(sidecar, 2, 4);
    PutBE(sidecar, 26 + 12, 4);
    PutBE(sidecar, uint32_t(fork.size()), 4);
    return sidecar + fork;
}

} // namespace scantest
