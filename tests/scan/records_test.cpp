#include "scan/records.h"

#include <gtest/gtest.h>

#include <type_traits>

#include "core/globals.h"

// The stored and the fresh snapshot hold records of two different classes.
static_assert(!std::is_same_v<TheOldFiles, TheNewFiles>);
static_assert(!std::is_convertible_v<TheOldFiles *, TheNewFiles *>);
static_assert(!std::is_convertible_v<TheNewFiles *, TheOldFiles *>);
static_assert(std::is_same_v<decltype(TheNewFiles::MyID), int32_t>);
static_assert(std::is_same_v<decltype(TheOldFiles::MyID), int32_t>);

template<class Record> void ExpectInitialValues()
{
    const Record r;
    EXPECT_EQ(r.Path, "");
    EXPECT_EQ(r.CRC, "");
    EXPECT_EQ(r.MyID, 0);
    EXPECT_EQ(r.name, "");
    EXPECT_TRUE(r.f.IsNil());
}

TEST(SnapshotRecords, New_FieldsHoldTheirInitialValues)
{
    ExpectInitialValues<TheOldFiles>();
    ExpectInitialValues<TheNewFiles>();
}

TEST(SnapshotRecords, FilledInFieldOrder_ArraysOwnTheirRecords)
{
    auto file = platform::FolderItem::FromNativePath("/tmp/a.txt");
    Globals::NewFiles.push_back(
        platform::New<TheNewFiles>(TheNewFiles { "Disk:tmp:a.txt", "AB", 7, "a.txt", file }));
    Globals::OldFiles.push_back(
        platform::New<TheOldFiles>(TheOldFiles { "Disk:tmp:a.txt", "CD", 12, "a.txt", file }));
    EXPECT_EQ(Globals::NewFiles.back()->MyID, 7);
    EXPECT_EQ(Globals::OldFiles.back()->CRC, "CD");
    EXPECT_EQ(file.Shared().use_count(), 3);
    Globals::NewFiles.clear();
    Globals::OldFiles.clear();
    // Emptying an array releases its records' file references.
    EXPECT_EQ(file.Shared().use_count(), 1);
}
