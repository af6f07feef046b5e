#pragma once

#include "platform/ref.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

/// A parsed classic resource fork. Every offset, count and length has been checked against the
/// fork's size when it was opened, so no call reads past the end.
class ResourceFork
{
public:
    /// Parses `bytes` (a whole fork, big-endian); nil when anything in it is inconsistent: an
    /// offset, count or length outside the fork or its region, data and map overlapping, two
    /// types' reference lists overlapping, or two types (two resources of a type) sharing a code
    /// (an ID).
    static Ref<ResourceFork> Parse(std::string bytes);

    /// Number of resource types.
    int TypeCount() const;
    /// The four-character type of type index `j` (0-based), Mac Roman converted to UTF-8;
    /// "" out of range.
    std::string ResourceType(int j) const;
    /// Number of resources of `type`; 0 for an unknown type.
    int ResourceCount(const std::string &type) const;
    /// The ID of resource `k` (0-based) of `type`; 0 out of range.
    int ResourceID(const std::string &type, int k) const;
    /// The data of the resource of `type` with `id`; "" when there is none.
    std::string GetResource(const std::string &type, int id) const;

    struct Resource
    {
        int16_t id;
        uint64_t dataOffset; // from the start of the fork, past the 4-byte length
        uint32_t length;
    };
    struct Type
    {
        std::string name; // UTF-8
        std::vector<Resource> resources;
    };

private:
    const Type *Find(const std::string &type) const;

    std::string m_bytes;
    std::vector<Type> m_types;
};

} // namespace platform
