#include "platform/database.h"

#include <functional>
#include <string>
#include <vector>

#include "platform/application.h"
#include "platform/thread.h"
#include "tests/platform/database_testing.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace dbtest;

// --- transactions and cooperative threads --------------------------------------------------------

class DatabaseThreads : public ::testing::TestWithParam<bool>
{
};

TEST_P(DatabaseThreads, OtherThreadsStatement_WaitsForOwnersEnd)
{
    const bool ownerCommits = GetParam();
    TempFolder folder;
    auto db = NewCatalogue(folder);
    std::vector<std::string> log;

    auto a = Start([&] {
        db->SQLExecute("BEGIN TRANSACTION;");
        AddFile(*db, "Disk:a", "a");
        log.push_back("A inserted");
        for (int i = 0; i < 5; ++i) {
            Yield();
            log.push_back("A yielded");
        }
        ownerCommits ? db->Commit() : db->Rollback();
        log.push_back(ownerCommits ? "A committed" : "A rolled back");
    });
    auto b = Start([&] {
        Yield(); // A has begun by now
        log.push_back("B inserts");
        AddFile(*db, "Disk:b", "b");
        log.push_back("B inserted");
        db->Commit(); // there is nothing of B's to commit
        db->Rollback(); // and nothing of A's to end
        log.push_back("B done");
    });
    ASSERT_TRUE(RunToEnd({ a, b }));

    // B asks while A's transaction is open and gets its turn only once A has ended it.
    const std::vector<std::string> expected = {
        "A inserted",
        "A yielded",
        "B inserts",
        "A yielded",
        "A yielded",
        "A yielded",
        "A yielded",
        ownerCommits ? "A committed" : "A rolled back",
        "B inserted",
        "B done",
    };
    EXPECT_EQ(log, expected);
    EXPECT_FALSE(db->Error()) << db->ErrorMessage();
    EXPECT_EQ(ScalarText(*db, "SELECT group_concat(name, ',') FROM fileinfo"),
        ownerCommits ? "a,b" : "b");
}

TEST_P(DatabaseThreads, GuiStatement_WaitsForThreadsTransaction)
{
    const bool ownerCommits = GetParam();
    TempFolder folder;
    auto db = NewCatalogue(folder);
    bool ended = false;
    auto a = Start([&] {
        db->SQLExecute("BEGIN TRANSACTION;");
        AddFile(*db, "Disk:a", "a");
        for (int i = 0; i < 3; ++i)
            Yield();
        CurrentThread()->Sleep(5); // the GUI's wait turns the event loop for the timer
        ownerCommits ? db->Commit() : db->Rollback();
        ended = true;
    });
    Yield(); // one round: A begins its transaction and inserts
    ASSERT_EQ(a->GetState(), Thread::State::Ready);
    EXPECT_FALSE(ended);
    AddFile(*db, "Disk:gui", "gui"); // GUI code: waits until A has ended its transaction
    EXPECT_TRUE(ended);
    ASSERT_TRUE(RunToEnd({ a }));
    EXPECT_EQ(ScalarText(*db, "SELECT group_concat(name, ',') FROM fileinfo"),
        ownerCommits ? "a,gui" : "gui");
}

INSTANTIATE_TEST_SUITE_P(DatabaseOwner, DatabaseThreads, ::testing::Values(true, false),
    [](const auto &info) { return info.param ? "Commits" : "RollsBack"; });

TEST(DatabaseThreadsEnded, OwnerEndsWithTransactionOpen_RolledBackNotWaitedFor)
{
    for (bool keepObject : { true, false }) {
        SCOPED_TRACE(keepObject ? "thread object kept" : "thread object gone");
        TempFolder folder;
        auto db = NewCatalogue(folder);
        auto a = Start([&] {
            db->SQLExecute("BEGIN TRANSACTION;");
            AddFile(*db, "Disk:a", "a");
        });
        ASSERT_TRUE(RunToEnd({ a }));
        if (!keepObject)
            a = nullptr;
        AddFile(*db, "Disk:gui", "gui");
        EXPECT_FALSE(db->Error()) << db->ErrorMessage();
        db->Commit();
        auto other = DatabaseAt(folder / "crcData.rsd");
        ASSERT_TRUE(other->Connect());
        EXPECT_EQ(ScalarText(*other, "SELECT group_concat(name, ',') FROM fileinfo"), "gui");
    }
}

TEST(DatabaseThreadsEnded, GuiTransaction_ThreadWaitsUntilGuiCommits)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    db->SQLExecute("BEGIN TRANSACTION;");
    AddFile(*db, "Disk:gui", "gui");
    bool inserted = false;
    auto b = Start([&] {
        AddFile(*db, "Disk:b", "b");
        inserted = true;
    });
    for (int i = 0; i < 5; ++i) {
        Yield(); // GUI code that yields in a loop, as a drop handler does
        EXPECT_FALSE(ProcessEventsUntil([&] { return inserted; }, 5));
    }
    db->Rollback();
    ASSERT_TRUE(RunToEnd({ b }));
    EXPECT_TRUE(inserted);
    EXPECT_EQ(ScalarText(*db, "SELECT group_concat(name, ',') FROM fileinfo"), "b");
}

TEST(DatabaseThreadsEnded, ConnectionReopenedWhileWaiting_RecordSetCallsFailWithError)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    AddFile(*db, "Disk:a", "a");
    struct Case
    {
        const char *call;
        std::function<void(RecordSet &)> run;
    };
    const Case cases[] = {
        { "RecordCount", [](RecordSet &rs) { EXPECT_EQ(rs.RecordCount(), -1); } },
        { "Update",
            [](RecordSet &rs) {
                rs.Edit();
                rs.Field("exempt")->SetBooleanValue(true);
                rs.Update();
            } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.call);
        auto rs = db->SQLSelect("SELECT exempt FROM fileinfo");
        ASSERT_TRUE(rs);
        auto a = Start([&] {
            db->SQLExecute("BEGIN TRANSACTION;");
            AddFile(*db, "Disk:b", "b");
            for (int i = 0; i < 3; ++i)
                Yield();
            db->Close(); // ends the transaction and every record set of the connection
            db->Connect();
        });
        Yield(); // one round: A begins its transaction
        ASSERT_EQ(a->GetState(), Thread::State::Ready);
        c.run(*rs); // GUI code: waits until A has closed the connection and opened it again
        EXPECT_TRUE(db->Error());
        ASSERT_TRUE(RunToEnd({ a }));
        ASSERT_TRUE(db->IsConnected());
        EXPECT_EQ(ScalarText(*db, "SELECT group_concat(name || exempt, ',') FROM fileinfo"), "a0");
    }
}
