#include "scantest.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/application.h"
#include "platform/folderitem.h"
#include "platform/thread.h"
#include "scan/instrrev.h"
#include "tests/support/testsupport.h"

using namespace platform;
using platform::testing::LambdaThread;
using platform::testing::TempFolder;

TEST(InStrRev, Cases_LastOccurrenceAtOrBeforeTheStartAndOneYieldPerPositionExamined)
{
    struct Case
    {
        std::string searched, sought;
        int32_t start;
        int32_t position;
        int yields; // the positions examined
    };
    const Case cases[] = {
        { "a:b:c", ":", 0, 4, 2 },
        { "a:b:c", ":", 3, 2, 2 },
        { "a:b:c", ":", 1, 0, 1 },
        { "a:b:c", ":", -7, 4, 2 },
        { "abc", ":", 0, 0, 3 },
        { "a::b", "::", 0, 2, 3 },
        { "", ":", 0, 0, 0 },
        { "a:b", ":", 99, 2, 2 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.searched + " for " + c.sought + " from " + std::to_string(c.start));
        // Two threads in turn: the counter runs once after each yield of the search.
        int32_t position = -1;
        int turns = 0;
        bool done = false;
        auto search = std::make_shared<LambdaThread>([&] {
            position = InstrRev::InStrRev(c.searched, c.sought, c.start);
            done = true;
        });
        auto counter = std::make_shared<LambdaThread>([&] {
            while (!done) {
                ++turns;
                Yield();
            }
        });
        search->Run();
        counter->Run();
        ASSERT_TRUE(ProcessEventsUntil([] { return Scheduler::LiveCount() == 0; }, 10000));
        EXPECT_EQ(position, c.position);
        EXPECT_EQ(turns, c.yields);
    }
}

TEST(SplitPath, Cases_ThePathUpToItsLastColon)
{
    TempFolder tmp;
    platform::testing::WriteFile(tmp / "c.txt", "c");
    const Ref<FolderItem> folder = FolderItem::FromNativePath(tmp.Path());
    const Ref<FolderItem> file = FolderItem::FromNativePath(tmp / "c.txt");
    const std::string folderPath = folder->AbsolutePath();
    ASSERT_EQ(folderPath.back(), ':');

    scantest::ScanThread scan;
    EXPECT_EQ(scan.SplitPath(file), folderPath.substr(0, folderPath.size() - 1));
    EXPECT_EQ(scan.SplitPath(folder), folderPath.substr(0, folderPath.size() - 1));
    EXPECT_EQ(scan.SplitPath(FolderItem::FromNativePath("/")), "Disk");
    EXPECT_EQ(scan.SplitPath(nullptr), "");
}
