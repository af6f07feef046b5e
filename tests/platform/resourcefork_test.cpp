#include "platform/resourcefork.h"

#include <cerrno>
#include <cstring>
#include <functional>
#include <iconv.h>
#include <ostream>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/folderitem.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

using platform::FolderItem;
using platform::Ref;
using platform::ResourceFork;
using platform::testing::TempFolder;
using platform::testing::WriteFile;

namespace {

void Put(std::string &bytes, std::size_t at, uint32_t value, int size)
{
    for (int i = size - 1; i >= 0; --i, value >>= 8)
        bytes[at + std::size_t(i)] = char(value & 0xFF);
}

uint32_t Get(const std::string &bytes, std::size_t at, int size)
{
    uint32_t v = 0;
    for (int i = 0; i < size; ++i)
        v = (v << 8) | static_cast<unsigned char>(bytes[at + std::size_t(i)]);
    return v;
}

std::string U16(uint32_t v)
{
    std::string s(2, '\0');
    Put(s, 0, v, 2);
    return s;
}

std::string U32(uint32_t v)
{
    std::string s(4, '\0');
    Put(s, 0, v, 4);
    return s;
}

struct Res
{
    int16_t id;
    std::string data;
    std::string name; // "" for none
};

struct ForkType
{
    std::string code; // four bytes, Mac Roman
    std::vector<Res> resources;
};

// A classic resource fork laid out as the Resource Manager writes it: the header, the reserved
// area up to 256, the data, then the map (type list, reference lists, name list).
std::string BuildFork(const std::vector<ForkType> &types)
{
    std::string data;
    std::vector<std::vector<uint32_t>> dataOffsets;
    for (const ForkType &t : types) {
        dataOffsets.emplace_back();
        for (const Res &r : t.resources) {
            dataOffsets.back().push_back(uint32_t(data.size()));
            data += U32(uint32_t(r.data.size())) + r.data;
        }
    }

    std::string typeList = U16(types.empty() ? 0xFFFF : uint32_t(types.size() - 1));
    std::string references, names;
    const std::size_t typeListSize = 2 + 8 * types.size();
    for (std::size_t j = 0; j < types.size(); ++j) {
        const ForkType &t = types[j];
        typeList += t.code;
        typeList += U16(t.resources.empty() ? 0xFFFF : uint32_t(t.resources.size() - 1));
        typeList += U16(uint32_t(typeListSize + references.size()));
        for (std::size_t k = 0; k < t.resources.size(); ++k) {
            const Res &r = t.resources[k];
            references += U16(uint16_t(r.id));
            if (r.name.empty()) {
                references += U16(0xFFFF);
            } else {
                references += U16(uint32_t(names.size()));
                names += char(r.name.size()) + r.name;
            }
            references += U32(dataOffsets[j][k]); // attributes 0, 3-byte offset
            references += U32(0);
        }
    }

    const uint32_t dataOffset = 256;
    const uint32_t mapOffset = dataOffset + uint32_t(data.size());
    const uint32_t mapLength = uint32_t(28 + typeList.size() + references.size() + names.size());
    const std::string header
        = U32(dataOffset) + U32(mapOffset) + U32(uint32_t(data.size())) + U32(mapLength);
    std::string map = header + std::string(4 + 2 + 2, '\0') + U16(28)
        + U16(uint32_t(28 + typeList.size() + references.size())) + typeList + references + names;
    std::string fork = header + std::string(dataOffset - 16, '\0') + data + map;
    return fork;
}

// The fork macOS writes into an AppleDouble file of a file that has none.
std::string BlankPlaceholder()
{
    std::string fork = U32(256) + U32(256) + U32(0) + U32(30);
    fork += "This resource fork intentionally left blank   ";
    fork.resize(256, '\0');
    fork += U32(256) + U32(256) + U32(0) + U32(30);
    fork += std::string(4 + 2 + 2, '\0') + U16(28) + U16(30) + U16(0xFFFF);
    return fork;
}

// An AppleDouble file as macOS writes it: Finder info (entry 9) then the resource fork
// (entry 2).
std::string AppleDouble(const std::string &fork)
{
    std::string filler = "Mac OS X        ";
    std::string out = U32(0x00051607) + U32(0x00020000) + filler + U16(2);
    const uint32_t finderInfoOffset = 26 + 2 * 12;
    const uint32_t finderInfoLength = 3760;
    const uint32_t forkOffset = finderInfoOffset + finderInfoLength;
    out += U32(9) + U32(finderInfoOffset) + U32(finderInfoLength);
    out += U32(2) + U32(forkOffset) + U32(uint32_t(fork.size()));
    out += std::string(finderInfoLength, '\0');
    out += fork;
    return out;
}

// Three types holding 2, 0 and 5 resources; the third type's code is not ASCII.
std::vector<ForkType> ThreeTypes()
{
    return {
        { "ICN#", { { 128, "first icon", "" }, { -4064, std::string("\0\x01\xff", 3), "sys" } } },
        { "STR ", {} },
        { "\xa9"
          "ver",
            { { 1, "one", "" }, { 2, "", "" }, { 3, "three", "name" }, { 1000, "x", "" },
                { -1, std::string(300, '\xab'), "" } } },
    };
}

void ExpectThreeTypes(const Ref<ResourceFork> &fork)
{
    ASSERT_TRUE(fork);
    ASSERT_EQ(fork->TypeCount(), 3);
    EXPECT_EQ(fork->ResourceType(0), "ICN#");
    EXPECT_EQ(fork->ResourceType(1), "STR ");
    EXPECT_EQ(fork->ResourceType(2), "\xc2\xa9ver"); // "©ver" in UTF-8
    EXPECT_EQ(fork->ResourceCount("ICN#"), 2);
    EXPECT_EQ(fork->ResourceCount("STR "), 0);
    EXPECT_EQ(fork->ResourceCount("\xc2\xa9ver"), 5);

    const std::vector<ForkType> expected = ThreeTypes();
    for (int j = 0; j < 3; ++j) {
        const std::string type = fork->ResourceType(j);
        for (std::size_t k = 0; k < expected[std::size_t(j)].resources.size(); ++k) {
            SCOPED_TRACE(type + " #" + std::to_string(k));
            const Res &r = expected[std::size_t(j)].resources[k];
            EXPECT_EQ(fork->ResourceID(type, int(k)), r.id);
            EXPECT_EQ(fork->GetResource(type, r.id), r.data);
        }
    }
}

TEST(ResourceFork, Parse_ThreeTypes_GivesTypesCountsIDsAndData)
{
    ExpectThreeTypes(ResourceFork::Parse(BuildFork(ThreeTypes())));
}

TEST(ResourceFork, Lookups_OutOfRangeOrUnknown_GiveEmptyResults)
{
    const Ref<ResourceFork> fork = ResourceFork::Parse(BuildFork(ThreeTypes()));
    ASSERT_TRUE(fork);
    EXPECT_EQ(fork->ResourceType(-1), "");
    EXPECT_EQ(fork->ResourceType(3), "");
    EXPECT_EQ(fork->ResourceCount("XXXX"), 0);
    EXPECT_EQ(fork->ResourceID("ICN#", 2), 0);
    EXPECT_EQ(fork->ResourceID("ICN#", -1), 0);
    EXPECT_EQ(fork->ResourceID("XXXX", 0), 0);
    EXPECT_EQ(fork->GetResource("ICN#", 129), "");
    EXPECT_EQ(fork->GetResource("STR ", 0), "");
    // The type is looked up by its UTF-8 text, not by the Mac Roman bytes.
    EXPECT_EQ(fork->ResourceCount("\xa9ver"), 0);
}

TEST(ResourceFork, Parse_NoTypes_GivesAnEmptyFork)
{
    const Ref<ResourceFork> fork = ResourceFork::Parse(BuildFork({}));
    ASSERT_TRUE(fork);
    EXPECT_EQ(fork->TypeCount(), 0);
    const Ref<ResourceFork> blank = ResourceFork::Parse(BlankPlaceholder());
    ASSERT_TRUE(blank);
    EXPECT_EQ(blank->TypeCount(), 0);
}

// Every byte 0x80..0xFF, four to a type code, against glibc's Mac Roman table.
TEST(ResourceFork, ResourceType_MacRomanBytes_BecomeUtf8)
{
    std::vector<ForkType> types;
    for (int b = 0x80; b <= 0xFF; b += 4)
        types.push_back({ std::string { char(b), char(b + 1), char(b + 2), char(b + 3) }, {} });
    const Ref<ResourceFork> fork = ResourceFork::Parse(BuildFork(types));
    ASSERT_TRUE(fork);
    ASSERT_EQ(fork->TypeCount(), 32);

    iconv_t cd = iconv_open("UTF-8", "MACINTOSH");
    ASSERT_NE(cd, iconv_t(-1));
    for (int j = 0; j < 32; ++j) {
        for (int i = 0; i < 4; ++i) {
            const int b = 0x80 + 4 * j + i;
            SCOPED_TRACE(b);
            std::string expected;
            // glibc differs from Apple's table in two places: 0xC6 is the increment sign (not
            // Greek Delta) and 0xF0 the Apple logo at U+F8FF.
            if (b == 0xC6) {
                expected = "\xe2\x88\x86";
            } else if (b == 0xF0) {
                expected = "\xef\xa3\xbf";
            } else {
                char in = char(b), out[8];
                char *inp = &in, *outp = out;
                std::size_t inLeft = 1, outLeft = sizeof out;
                ASSERT_NE(iconv(cd, &inp, &inLeft, &outp, &outLeft), std::size_t(-1));
                expected.assign(out, std::size_t(outp - out));
            }
            std::string character = fork->ResourceType(j);
            // Take character i of the four: UTF-8 lead bytes are not 10xxxxxx.
            std::size_t start = 0;
            for (int n = 0; n < i; ++n)
                do
                    ++start;
                while ((static_cast<unsigned char>(character[start]) & 0xC0) == 0x80);
            std::size_t end = start + 1;
            while (end < character.size()
                && (static_cast<unsigned char>(character[end]) & 0xC0) == 0x80)
                ++end;
            EXPECT_EQ(character.substr(start, end - start), expected);
        }
    }
    iconv_close(cd);
}

// Field positions inside a fork made by BuildFork.
struct Layout
{
    explicit Layout(const std::string &f)
        : dataOffset(Get(f, 0, 4))
        , mapOffset(Get(f, 4, 4))
        , dataLength(Get(f, 8, 4))
        , mapLength(Get(f, 12, 4))
        , typeList(mapOffset + Get(f, mapOffset + 24, 2))
        , nameList(mapOffset + Get(f, mapOffset + 26, 2))
    {
    }
    std::size_t TypeEntry(int j) const { return typeList + 2 + 8 * std::size_t(j); }
    std::size_t Reference(const std::string &f, int j, int k) const
    {
        return typeList + Get(f, TypeEntry(j) + 6, 2) + 12 * std::size_t(k);
    }

    std::size_t dataOffset, mapOffset, dataLength, mapLength, typeList, nameList;
};

struct Damage
{
    const char *name;
    std::function<void(std::string &fork, const Layout &at)> apply;
};

void PrintTo(const Damage &c, std::ostream *os) { *os << c.name; }

class DamagedFork : public ::testing::TestWithParam<Damage>
{
};

TEST_P(DamagedFork, Parse_Inconsistent_GivesNil)
{
    std::string fork = BuildFork(ThreeTypes());
    ASSERT_TRUE(ResourceFork::Parse(fork));
    GetParam().apply(fork, Layout(fork));
    EXPECT_FALSE(ResourceFork::Parse(fork));
}

INSTANTIATE_TEST_SUITE_P(ResourceFork, DamagedFork,
    ::testing::Values(
        Damage { "Empty", [](std::string &f, const Layout &) { f.clear(); } },
        Damage { "TruncatedHeader", [](std::string &f, const Layout &) { f.resize(15); } },
        Damage { "TruncatedMap", [](std::string &f, const Layout &) { f.pop_back(); } },
        Damage { "MapOffsetPastTheEnd",
            [](std::string &f, const Layout &) { Put(f, 4, uint32_t(f.size()), 4); } },
        Damage { "MapOffsetHuge", [](std::string &f, const Layout &) { Put(f, 4, 0xFFFFFFF0, 4); } },
        Damage { "MapLengthPastTheEnd",
            [](std::string &f, const Layout &a) { Put(f, 12, uint32_t(a.mapLength + 1), 4); } },
        Damage { "MapTooShort", [](std::string &f, const Layout &) { Put(f, 12, 29, 4); } },
        Damage { "DataLengthPastTheEnd",
            [](std::string &f, const Layout &) { Put(f, 8, uint32_t(f.size()), 4); } },
        Damage { "DataOffsetPastTheEnd",
            [](std::string &f, const Layout &) { Put(f, 0, uint32_t(f.size()), 4); } },
        Damage { "DataOverlapsTheMap",
            [](std::string &f, const Layout &a) { Put(f, 8, uint32_t(a.dataLength + 1), 4); } },
        Damage { "DataOverlapsTheHeader", [](std::string &f, const Layout &) { Put(f, 0, 8, 4); } },
        Damage { "TypeListOffsetPastTheMap",
            [](std::string &f, const Layout &a) { Put(f, a.mapOffset + 24, 0xFFF0, 2); } },
        Damage { "TypeListInsideTheMapHeader",
            [](std::string &f, const Layout &a) { Put(f, a.mapOffset + 24, 4, 2); } },
        Damage { "NameListPastTheMap",
            [](std::string &f, const Layout &a) { Put(f, a.mapOffset + 26, 0xFFF0, 2); } },
        Damage { "TypeCountOverruns",
            [](std::string &f, const Layout &a) { Put(f, a.typeList, 0x00FF, 2); } },
        Damage { "ResourceCountOverruns",
            [](std::string &f, const Layout &a) { Put(f, a.TypeEntry(0) + 4, 0x0FFF, 2); } },
        Damage { "ReferenceListPastTheMap",
            [](std::string &f, const Layout &a) { Put(f, a.TypeEntry(2) + 6, 0xFFF0, 2); } },
        Damage { "ReferenceListsOverlap",
            [](std::string &f, const Layout &a) {
                Put(f, a.TypeEntry(2) + 6, Get(f, a.TypeEntry(0) + 6, 2), 2);
            } },
        Damage { "ReferenceListOverTheTypeList",
            [](std::string &f, const Layout &a) { Put(f, a.TypeEntry(0) + 6, 2, 2); } },
        Damage { "ResourceDataOffsetPastTheData",
            [](std::string &f, const Layout &a) {
                Put(f, a.Reference(f, 0, 1) + 5, uint32_t(a.dataLength), 3);
            } },
        Damage { "ResourceDataOffsetHuge",
            [](std::string &f, const Layout &a) { Put(f, a.Reference(f, 2, 0) + 5, 0xFFFFFF, 3); } },
        Damage { "ResourceLengthPastTheData",
            [](std::string &f, const Layout &a) { Put(f, a.dataOffset, 0xFFFFFFFF, 4); } },
        Damage { "LastResourceLengthOneTooLong",
            [](std::string &f, const Layout &a) {
                // The last resource of the last type holds 300 bytes at the end of the data.
                Put(f, a.dataOffset + a.dataLength - 304, 301, 4);
            } },
        Damage { "NameOffsetPastTheMap",
            [](std::string &f, const Layout &a) { Put(f, a.Reference(f, 0, 1) + 2, 0xFFF0, 2); } },
        Damage { "NameLengthPastTheMap",
            [](std::string &f, const Layout &a) {
                Put(f, a.nameList + Get(f, a.Reference(f, 2, 2) + 2, 2), 0xFF, 1);
            } },
        Damage { "TwoTypesWithOneCode",
            [](std::string &f, const Layout &a) { f.replace(a.TypeEntry(1), 4, "ICN#"); } },
        Damage { "TwoResourcesWithOneID",
            [](std::string &f, const Layout &a) {
                Put(f, a.Reference(f, 2, 1), Get(f, a.Reference(f, 2, 0), 2), 2);
            } }),
    [](const ::testing::TestParamInfo<Damage> &info) { return info.param.name; });

// Every prefix of a good fork: none may be read past its end (the sanitizer build checks
// that), and only the whole is whole.
TEST(ResourceFork, Parse_EveryTruncation_GivesNil)
{
    const std::string fork = BuildFork(ThreeTypes());
    for (std::size_t n = 0; n < fork.size(); ++n) {
        SCOPED_TRACE(n);
        EXPECT_FALSE(ResourceFork::Parse(fork.substr(0, n)));
    }
}

// A user attribute on a file in `folder`, or false when the file system refuses them.
bool SetAttribute(const std::string &path, const char *name, const std::string &value)
{
    return setxattr(path.c_str(), name, value.data(), value.size(), 0) == 0;
}

bool UserAttributesWork(const TempFolder &folder)
{
    const std::string probe = folder / "probe";
    WriteFile(probe, "");
    const bool ok = SetAttribute(probe, "user.tallowmere.probe", "1");
    unlink(probe.c_str());
    return ok;
}

TEST(FolderItemResourceFork, Sidecar_HoldsTheFork_LengthAndContentsRead)
{
    TempFolder folder;
    const std::string fork = BuildFork(ThreeTypes());
    WriteFile(folder / "x", "data fork");
    WriteFile(folder / "._x", AppleDouble(fork));

    const auto item = FolderItem::FromNativePath(folder / "x");
    EXPECT_EQ(item->ResourceForkLength(), int64_t(fork.size()));
    ExpectThreeTypes(item->OpenResourceFork());
}

TEST(FolderItemResourceFork, Attribute_HoldsTheFork_LengthAndContentsRead)
{
    TempFolder folder;
    if (!UserAttributesWork(folder))
        GTEST_SKIP() << "the file system of " << folder.Path() << " takes no user attributes";
    const std::string fork = BuildFork(ThreeTypes());
    for (const char *name : { "user.com.apple.ResourceFork", "user.org.netatalk.ResourceFork" }) {
        SCOPED_TRACE(name);
        const std::string path = folder / (std::string("file-") + name);
        WriteFile(path, "data fork");
        ASSERT_TRUE(SetAttribute(path, name, fork)) << std::strerror(errno);
        const auto item = FolderItem::FromNativePath(path);
        EXPECT_EQ(item->ResourceForkLength(), int64_t(fork.size()));
        ExpectThreeTypes(item->OpenResourceFork());
    }
}

TEST(FolderItemResourceFork, SidecarAndAttribute_SidecarWins)
{
    TempFolder folder;
    if (!UserAttributesWork(folder))
        GTEST_SKIP() << "the file system of " << folder.Path() << " takes no user attributes";
    const std::string sidecarFork = BuildFork(ThreeTypes());
    const std::string attributeFork = BuildFork({ { "TEXT", { { 1, "a", "" } } } });
    WriteFile(folder / "x", "");
    WriteFile(folder / "._x", AppleDouble(sidecarFork));
    ASSERT_TRUE(SetAttribute(folder / "x", "user.com.apple.ResourceFork", attributeFork));
    const auto item = FolderItem::FromNativePath(folder / "x");
    EXPECT_EQ(item->ResourceForkLength(), int64_t(sidecarFork.size()));
    ExpectThreeTypes(item->OpenResourceFork());

    // A sidecar that holds only the placeholder gives way to the attribute.
    WriteFile(folder / "._x", AppleDouble(BlankPlaceholder()));
    EXPECT_EQ(item->ResourceForkLength(), int64_t(attributeFork.size()));
    const Ref<ResourceFork> fork = item->OpenResourceFork();
    ASSERT_TRUE(fork);
    EXPECT_EQ(fork->GetResource("TEXT", 1), "a");
}

TEST(FolderItemResourceFork, BlankPlaceholder_CountsAsNoFork)
{
    TempFolder folder;
    ASSERT_EQ(BlankPlaceholder().size(), 286u);
    WriteFile(folder / "x", "data fork");
    WriteFile(folder / "._x", AppleDouble(BlankPlaceholder()));
    const auto item = FolderItem::FromNativePath(folder / "x");
    EXPECT_EQ(item->ResourceForkLength(), 0);
    EXPECT_FALSE(item->OpenResourceFork());
    EXPECT_EQ(item->Length(), 9);

    if (UserAttributesWork(folder)) {
        WriteFile(folder / "y", "");
        ASSERT_TRUE(SetAttribute(folder / "y", "user.com.apple.ResourceFork", BlankPlaceholder()));
        EXPECT_EQ(FolderItem::FromNativePath(folder / "y")->ResourceForkLength(), 0);
    }
}

TEST(FolderItemResourceFork, NoSidecarNoAttribute_NoFork)
{
    TempFolder folder;
    WriteFile(folder / "x", "data fork");
    const auto item = FolderItem::FromNativePath(folder / "x");
    EXPECT_EQ(item->ResourceForkLength(), 0);
    EXPECT_FALSE(item->OpenResourceFork());
    EXPECT_EQ(FolderItem::FromNativePath(folder / "missing")->ResourceForkLength(), 0);
    EXPECT_EQ(FolderItem::FromNativePath("/")->ResourceForkLength(), 0);
}

TEST(FolderItemResourceFork, DamagedForkInSidecar_HasLengthButOpensNil)
{
    TempFolder folder;
    std::string fork = BuildFork(ThreeTypes());
    Put(fork, 4, 0xFFFFFFF0, 4);
    WriteFile(folder / "x", "");
    WriteFile(folder / "._x", AppleDouble(fork));
    const auto item = FolderItem::FromNativePath(folder / "x");
    EXPECT_EQ(item->ResourceForkLength(), int64_t(fork.size()));
    EXPECT_FALSE(item->OpenResourceFork());
}

struct SidecarDamage
{
    const char *name;
    std::function<void(std::string &sidecar)> apply;
};

void PrintTo(const SidecarDamage &c, std::ostream *os) { *os << c.name; }

class DamagedSidecar : public ::testing::TestWithParam<SidecarDamage>
{
};

TEST_P(DamagedSidecar, ResourceForkLength_Damaged_NoFork)
{
    TempFolder folder;
    std::string sidecar = AppleDouble(BuildFork(ThreeTypes()));
    GetParam().apply(sidecar);
    WriteFile(folder / "x", "");
    WriteFile(folder / "._x", sidecar);
    const auto item = FolderItem::FromNativePath(folder / "x");
    EXPECT_EQ(item->ResourceForkLength(), 0);
    EXPECT_FALSE(item->OpenResourceFork());
}

INSTANTIATE_TEST_SUITE_P(FolderItemResourceFork, DamagedSidecar,
    ::testing::Values(SidecarDamage { "Empty", [](std::string &s) { s.clear(); } },
        SidecarDamage { "WrongMagic", [](std::string &s) { Put(s, 0, 0x00051600, 4); } },
        SidecarDamage { "WrongVersion", [](std::string &s) { Put(s, 4, 0x00010000, 4); } },
        SidecarDamage { "TruncatedHeader", [](std::string &s) { s.resize(20); } },
        SidecarDamage { "EntryCountOverruns", [](std::string &s) { Put(s, 24, 0x4000, 2); } },
        SidecarDamage { "ForkPastTheEnd", [](std::string &s) { s.pop_back(); } },
        SidecarDamage {
            "ForkOffsetHuge", [](std::string &s) { Put(s, 26 + 12 + 4, 0xFFFFFFF0, 4); } },
        SidecarDamage {
            "ForkInsideTheEntryTable", [](std::string &s) { Put(s, 26 + 12 + 4, 8, 4); } },
        SidecarDamage { "NoForkEntry", [](std::string &s) { Put(s, 26 + 12, 4, 4); } }),
    [](const ::testing::TestParamInfo<SidecarDamage> &info) { return info.param.name; });

TEST(FolderItemResourceFork, SymbolicLink_HasNoForkOfItsOwn)
{
    TempFolder folder;
    const std::string fork = BuildFork(ThreeTypes());
    WriteFile(folder / "x", "");
    WriteFile(folder / "._x", AppleDouble(fork));
    ASSERT_EQ(symlink("x", (folder / "link").c_str()), 0);
    WriteFile(folder / "._link", AppleDouble(fork));

    const auto link = FolderItem::FromNativePath(folder / "link");
    EXPECT_EQ(link->ResourceForkLength(), 0);
    EXPECT_FALSE(link->OpenResourceFork());
    EXPECT_EQ(FolderItem::FromNativePath(folder / "x")->ResourceForkLength(), int64_t(fork.size()));
}

TEST(FolderItemResourceFork, SidecarThatIsNoRegularFile_IsNotRead)
{
    TempFolder folder;
    WriteFile(folder / "fifo-side", "");
    ASSERT_EQ(mkfifo((folder / "._fifo-side").c_str(), 0644), 0);
    WriteFile(folder / "folder-side", "");
    ASSERT_EQ(mkdir((folder / "._folder-side").c_str(), 0755), 0);
    WriteFile(folder / "target", AppleDouble(BuildFork(ThreeTypes())));
    WriteFile(folder / "link-side", "");
    ASSERT_EQ(symlink("target", (folder / "._link-side").c_str()), 0);

    // The FIFO is opened without blocking and refused.
    for (const char *name : { "fifo-side", "folder-side", "link-side" }) {
        SCOPED_TRACE(name);
        const auto item = FolderItem::FromNativePath(folder / name);
        EXPECT_EQ(item->ResourceForkLength(), 0);
        EXPECT_FALSE(item->OpenResourceFork());
    }
}

} // namespace
