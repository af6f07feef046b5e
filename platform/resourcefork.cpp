#include "platform/resourcefork.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <optional>

// Kept free of Qt and of the rest of the framework: the fuzz target compiles this file alone.

namespace platform {

namespace {

// Mac Roman 0x80..0xFF as Unicode (0xDB is the euro sign, 0xF0 the Apple logo of the private
// use area, as Apple's table has them since Mac OS 8.5).
constexpr char16_t kMacRomanHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, // 80
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8, // 88
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3, // 90
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, // 98
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF, // A0
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8, // A8
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211, // B0
    0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, // B8
    0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, // C0
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153, // C8
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA, // D0
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, // D8
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1, // E0
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4, // E8
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC, // F0
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7, // F8
};

std::string MacRomanToUtf8(std::string_view bytes)
{
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out += c;
            continue;
        }
        const char16_t u = kMacRomanHigh[b - 0x80];
        if (u < 0x800) {
            out += char(0xC0 | (u >> 6));
        } else {
            out += char(0xE0 | (u >> 12));
            out += char(0x80 | ((u >> 6) & 0x3F));
        }
        out += char(0x80 | (u & 0x3F));
    }
    return out;
}

// Big-endian reads within one region of the fork; every read is checked, so a damaged fork
// ends the parse instead of reading past the end.
class Reader
{
public:
    Reader(const std::string &bytes, uint64_t begin, uint64_t end)
        : m_bytes(bytes)
        , m_begin(begin)
        , m_end(end)
    {
    }

    std::optional<uint32_t> U32(uint64_t at) const { return Read(at, 4); }
    std::optional<uint32_t> U24(uint64_t at) const { return Read(at, 3); }
    std::optional<uint32_t> U16(uint64_t at) const { return Read(at, 2); }
    std::optional<uint32_t> U8(uint64_t at) const { return Read(at, 1); }
    bool Holds(uint64_t at, uint64_t size) const
    {
        return at >= m_begin && at <= m_end && size <= m_end - at;
    }

private:
    std::optional<uint32_t> Read(uint64_t at, unsigned size) const
    {
        if (!Holds(at, size))
            return std::nullopt;
        uint32_t v = 0;
        for (unsigned i = 0; i < size; ++i)
            v = (v << 8) | static_cast<unsigned char>(m_bytes[at + i]);
        return v;
    }

    const std::string &m_bytes;
    uint64_t m_begin;
    uint64_t m_end;
};

// A "count - 1" field: 0xFFFF means none.
uint32_t CountOf(uint32_t field) { return field == 0xFFFF ? 0 : field + 1; }

constexpr uint64_t kHeaderSize = 16;
// Header copy (16), next map (4), file reference (2), attributes (2), two list offsets (2 + 2).
constexpr uint64_t kMapHeaderSize = 28;
constexpr uint64_t kTypeEntrySize = 8;
constexpr uint64_t kReferenceSize = 12;

bool Overlap(uint64_t aBegin, uint64_t aSize, uint64_t bBegin, uint64_t bSize)
{
    return aSize != 0 && bSize != 0 && aBegin < bBegin + bSize && bBegin < aBegin + aSize;
}

// Two resources of one type with one ID, or two types with one code, make lookups ambiguous.
template<class T, class Key> bool HasDuplicate(const std::vector<T> &items, Key key)
{
    std::vector<decltype(key(items.front()))> keys;
    keys.reserve(items.size());
    for (const T &item : items)
        keys.push_back(key(item));
    std::sort(keys.begin(), keys.end());
    return std::adjacent_find(keys.begin(), keys.end()) != keys.end();
}

} // namespace

Ref<ResourceFork> ResourceFork::Parse(std::string bytes)
{
    const uint64_t size = bytes.size();
    const Reader whole(bytes, 0, size);
    const auto dataOffset = whole.U32(0), mapOffset = whole.U32(4), dataLength = whole.U32(8),
               mapLength = whole.U32(12);
    if (!mapLength)
        return nullptr;
    // The regions lie inside the fork, after its header, and apart from each other.
    if (!whole.Holds(*dataOffset, *dataLength) || !whole.Holds(*mapOffset, *mapLength)
        || *mapLength < kMapHeaderSize + 2 || *mapOffset < kHeaderSize
        || (*dataLength != 0 && *dataOffset < kHeaderSize)
        || Overlap(*dataOffset, *dataLength, *mapOffset, *mapLength))
        return nullptr;

    const uint64_t mapBegin = *mapOffset, mapEnd = mapBegin + *mapLength;
    const uint64_t dataBegin = *dataOffset, dataEnd = dataBegin + *dataLength;
    const Reader map(bytes, mapBegin, mapEnd);
    const Reader data(bytes, dataBegin, dataEnd);

    const auto typeListOffset = map.U16(mapBegin + 24), nameListOffset = map.U16(mapBegin + 26);
    if (*typeListOffset < kMapHeaderSize || *nameListOffset < kMapHeaderSize
        || *nameListOffset > *mapLength)
        return nullptr;
    const uint64_t typeList = mapBegin + *typeListOffset;
    const uint64_t nameList = mapBegin + *nameListOffset;
    const auto typeCountField = map.U16(typeList);
    if (!typeCountField)
        return nullptr;
    const uint32_t typeCount = CountOf(*typeCountField);
    if (!map.Holds(typeList + 2, uint64_t(typeCount) * kTypeEntrySize))
        return nullptr;

    // Each type's reference list lies after the type list, apart from every other list: then
    // no more resources can be listed than the map has room for.
    struct List
    {
        uint64_t begin;
        uint32_t count;
    };
    std::vector<List> lists(typeCount);
    const uint64_t typeListEnd = typeList + 2 + uint64_t(typeCount) * kTypeEntrySize;
    for (uint32_t j = 0; j < typeCount; ++j) {
        const uint64_t entry = typeList + 2 + uint64_t(j) * kTypeEntrySize;
        lists[j] = { typeList + *map.U16(entry + 6), CountOf(*map.U16(entry + 4)) };
        if (!map.Holds(lists[j].begin, uint64_t(lists[j].count) * kReferenceSize)
            || (lists[j].count != 0 && lists[j].begin < typeListEnd))
            return nullptr;
    }
    std::vector<List> byStart;
    std::copy_if(lists.begin(), lists.end(), std::back_inserter(byStart),
        [](const List &l) { return l.count != 0; });
    std::sort(byStart.begin(), byStart.end(),
        [](const List &a, const List &b) { return a.begin < b.begin; });
    for (std::size_t i = 1; i < byStart.size(); ++i)
        if (byStart[i - 1].begin + uint64_t(byStart[i - 1].count) * kReferenceSize
            > byStart[i].begin)
            return nullptr;

    // A plain pointer: Ref's checked access would tie this file to the exception classes.
    auto fork = std::make_shared<ResourceFork>();
    fork->m_types.reserve(typeCount);
    for (uint32_t j = 0; j < typeCount; ++j) {
        const uint64_t entry = typeList + 2 + uint64_t(j) * kTypeEntrySize;
        Type type;
        type.name = MacRomanToUtf8(std::string_view(bytes).substr(entry, 4));
        type.resources.reserve(lists[j].count);
        for (uint32_t k = 0; k < lists[j].count; ++k) {
            const uint64_t ref = lists[j].begin + uint64_t(k) * kReferenceSize;
            const auto id = int16_t(*map.U16(ref));
            if (const uint32_t nameOffset = *map.U16(ref + 2); nameOffset != 0xFFFF) {
                const auto nameLength = map.U8(nameList + nameOffset);
                if (!nameLength || !map.Holds(nameList + nameOffset + 1, *nameLength))
                    return nullptr;
            }
            // One attributes byte, then a 3-byte offset from the start of the data.
            const uint64_t at = dataBegin + *map.U24(ref + 5);
            const auto length = data.U32(at);
            if (!length || !data.Holds(at + 4, *length))
                return nullptr;
            type.resources.push_back({ id, at + 4, *length });
        }
        if (HasDuplicate(type.resources, [](const Resource &r) { return r.id; }))
            return nullptr;
        fork->m_types.push_back(std::move(type));
    }
    if (HasDuplicate(fork->m_types, [](const Type &t) { return t.name; }))
        return nullptr;
    fork->m_bytes = std::move(bytes);
    return fork;
}

const ResourceFork::Type *ResourceFork::Find(const std::string &type) const
{
    for (const Type &t : m_types)
        if (t.name == type)
            return &t;
    return nullptr;
}

int ResourceFork::TypeCount() const { return int(m_types.size()); }

std::string ResourceFork::ResourceType(int j) const
{
    if (j < 0 || std::size_t(j) >= m_types.size())
        return {};
    return m_types[std::size_t(j)].name;
}

int ResourceFork::ResourceCount(const std::string &type) const
{
    const Type *t = Find(type);
    return t ? int(t->resources.size()) : 0;
}

int ResourceFork::ResourceID(const std::string &type, int k) const
{
    const Type *t = Find(type);
    if (!t || k < 0 || std::size_t(k) >= t->resources.size())
        return 0;
    return t->resources[std::size_t(k)].id;
}

std::string ResourceFork::GetResource(const std::string &type, int id) const
{
    const Type *t = Find(type);
    if (!t)
        return {};
    for (const Resource &r : t->resources)
        if (r.id == id)
            return m_bytes.substr(r.dataOffset, r.length);
    return {};
}

} // namespace platform
