#include "platform/database.h"

#include <functional>
#include <string>
#include <vector>

#include "platform/application.h"
#include "platform/debuglog.h"
#include "platform/dialogs.h"
#include "platform/thread.h"
#include "tests/platform/database_testing.h"
#include "tests/support/scripteddialogs.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

using namespace platform;
using namespace dbtest;

namespace {

/// Runs a real event loop, in the place of the application's own top-level loop, until `done`
/// holds; bounded.
bool RunTopLevelLoopUntil(const std::function<bool()> &done, int timeoutMs)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    poll.start(1);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

/// Delivers `call` from the event loop, as the loop delivers a user's event to its handler.
void Post(std::function<void()> call)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [call = std::move(call)] { Dispatch(call); },
        Qt::QueuedConnection);
}

void Insert(Database &db, const std::string &name)
{
    db.InsertRecord("fileinfo", FileRecord("Disk:" + name, name));
}

/// GUI code under test: scripted dialogs (an unexpected exception must not open a real box), and
/// the debug log's lines.
class DatabaseGuiTransaction : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetDialogProvider(m_dialogs);
        System::SetDebugLogObserver([this](const std::string &line) { m_log.push_back(line); });
    }
    void TearDown() override
    {
        System::SetDebugLogObserver(nullptr);
        SetDialogProvider(nullptr);
        EXPECT_TRUE(m_dialogs->shown.empty());
    }
    int LogLinesWith(const std::string &text) const
    {
        int n = 0;
        for (const auto &line : m_log)
            n += line.find(text) != std::string::npos;
        return n;
    }

    std::shared_ptr<ScriptedDialogs> m_dialogs = std::make_shared<ScriptedDialogs>();
    std::vector<std::string> m_log;
};

} // namespace

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

// --- a thread's selects read together ------------------------------------------------------------

// A thread's selects in one turn share one read transaction: what another connection commits
// meanwhile shows at the thread's next turn. An insert right after them runs inside it and
// commits at once, and the next select shares a new read; where the shared read is older than
// the file, the insert runs on its own, as it would without. Anything else ends the shared read
// first and runs as it would without it: a transaction of its own begins. What it read is let go
// when it lets other code run (a checkpoint that waits for every reader of the log goes
// through), and nothing is left open when the scope ends.
TEST(DatabaseReadsTogether, SelectsShareATurnAndAnythingElseRunsAsWithout)
{
    TempFolder folder;
    auto db = NewCatalogue(folder);
    AddFile(*db, "Disk:a", "a");
    auto other = DatabaseAt(folder / "crcData.rsd");
    ASSERT_TRUE(other->Connect());
    const auto names = [&] {
        return ScalarText(*db,
            "SELECT group_concat(name, ',') FROM (SELECT name FROM fileinfo "
            "ORDER BY name)");
    };
    std::vector<std::string> seen;
    bool suspended = false;
    auto reader = Start([&] {
        const Database::ReadsTogether reads(db);
        seen.push_back(names());
        AddFile(*other, "Disk:x", "x");
        seen.push_back(names()); // the same turn
        Yield();
        seen.push_back(names());
        AddFile(*db, "Disk:b", "b"); // inside the shared read
        seen.push_back(CommittedNames(folder));
        AddFile(*other, "Disk:y", "y");
        seen.push_back(names()); // a new shared read
        AddFile(*other, "Disk:z", "z");
        seen.push_back(names());
        AddFile(*db, "Disk:d", "d"); // the shared read is older than the file
        EXPECT_FALSE(db->Error()) << db->ErrorMessage();
        seen.push_back(CommittedNames(folder));
        Yield();
        seen.push_back(names());
        db->SQLExecute("BEGIN TRANSACTION;");
        seen.push_back(db->Error() ? db->ErrorMessage() : "began");
        AddFile(*db, "Disk:c", "c");
        db->Commit();
        seen.push_back(CommittedNames(folder));
        Yield();
        seen.push_back(names());
        suspended = true;
        Scheduler::Block();
        seen.push_back(names());
    });
    ASSERT_TRUE(ProcessEventsUntil([&] { return suspended; }, 10000));
    seen.push_back(ScalarText(*other, "PRAGMA wal_checkpoint(TRUNCATE)")); // busy is 0
    Scheduler::Wake(reader.get());
    ASSERT_TRUE(RunToEnd({ reader }));
    AddFile(*db, "Disk:gui", "gui");
    EXPECT_FALSE(db->Error()) << db->ErrorMessage();
    EXPECT_EQ(CommittedNames(folder), "a,b,c,d,gui,x,y,z");
    EXPECT_EQ(seen,
        (std::vector<std::string> { "a", "a", "a,x", "a,b,x", "a,b,x,y", "a,b,x,y", "a,b,d,x,y,z",
            "a,b,d,x,y,z", "began", "a,b,c,d,x,y,z", "a,b,c,d,x,y,z", "0", "a,b,c,d,x,y,z" }));
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
        // A thread started now runs after B's next turn: once it has run, B has had its turn.
        bool turned = false;
        Start([&] { turned = true; });
        ASSERT_TRUE(ProcessEventsUntil([&] { return turned; }, 10000));
        EXPECT_FALSE(inserted);
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

TEST_F(DatabaseGuiTransaction, LeftOpen_RolledBackAndLoggedOnceBackInTopLevelLoop)
{
    // Where GUI code leaves its transaction open: a handler that returns, or the start-up code
    // that runs before the event loop does.
    for (bool byHandler : { true, false }) {
        SCOPED_TRACE(byHandler ? "left by a handler" : "left by start-up code");
        m_log.clear();
        TempFolder folder;
        auto db = NewCatalogue(folder);
        std::shared_ptr<Thread> scan;
        bool nextRan = false;
        const auto leak = [&] {
            db->SQLExecute("BEGIN TRANSACTION;");
            Insert(*db, "leaked");
            // Its statement would wait for the end of the GUI's transaction for ever.
            scan = Start([&] { Insert(*db, "scan"); });
        };
        if (byHandler)
            Post(leak);
        else
            leak();
        // The next handler the loop delivers has nothing of the leak's around its statements.
        Post([&] {
            Insert(*db, "next");
            nextRan = !db->Error();
        });
        ASSERT_TRUE(RunTopLevelLoopUntil([&] { return nextRan && Ended({ scan }); }, 5000));
        EXPECT_FALSE(db->Error()) << db->ErrorMessage();
        EXPECT_EQ(CommittedNames(folder), "next,scan");
        EXPECT_EQ(LogLinesWith("rolled back"), 1);
        EXPECT_EQ(LogLinesWith(folder / "crcData.rsd"), 1);
    }
}

TEST_F(DatabaseGuiTransaction, OwnerInNestedLoop_OtherHandlersNeitherEndNorJoinIt)
{
    struct Intrusion
    {
        const char *what;
        std::function<void(Database &)> run;
    };
    const Intrusion intrusions[] = {
        { "insert", [](Database &d) { Insert(d, "intruder"); } },
        { "select",
            [](Database &d) { EXPECT_EQ(d.SQLSelect("SELECT name FROM fileinfo"), nullptr); } },
        { "commit", [](Database &d) { d.Commit(); } },
        { "rollback", [](Database &d) { d.Rollback(); } },
    };
    for (bool messageBox : { true, false }) {
        for (bool timer : { true, false }) {
            for (const auto &intrusion : intrusions) {
                SCOPED_TRACE(std::string(messageBox ? "message box, " : "framework wait, ")
                    + (timer ? "timer, " : "queued call, ") + intrusion.what);
                TempFolder folder;
                auto db = NewCatalogue(folder);
                std::vector<std::string> order;
                std::shared_ptr<Thread> scan;
                bool intruderFailed = false;
                std::string committedMeanwhile = "<not run>";
                bool handlerDone = false;
                Post([&] {
                    db->SQLExecute("BEGIN TRANSACTION;");
                    Insert(*db, "owner1");
                    scan = Start([&] {
                        Insert(*db, "scan");
                        order.push_back("scan inserted");
                    });
                    QMessageBox box;
                    box.setText("The owner's box");
                    box.setWindowModality(Qt::ApplicationModal);
                    bool intruded = false;
                    const auto intrude = [&] {
                        Dispatch([&] {
                            intrusion.run(*db);
                            intruderFailed = db->Error();
                            committedMeanwhile = CommittedNames(folder);
                            order.push_back("intruder ran");
                        });
                        intruded = true;
                        if (messageBox)
                            box.done(0);
                    };
                    if (timer)
                        QTimer::singleShot(1, &box, intrude);
                    else
                        QMetaObject::invokeMethod(&box, intrude, Qt::QueuedConnection);
                    if (messageBox) {
                        QTimer::singleShot(5000, &box, [&] { box.done(0); }); // bounds the test
                        box.exec();
                    } else {
                        EXPECT_TRUE(ProcessEventsUntil([&] { return intruded; }, 5000));
                    }
                    order.push_back("owner back");
                    Insert(*db, "owner2");
                    db->Commit();
                    EXPECT_FALSE(db->Error()) << db->ErrorMessage();
                    order.push_back("owner committed");
                    handlerDone = true;
                });
                ASSERT_TRUE(
                    RunTopLevelLoopUntil([&] { return handlerDone && Ended({ scan }); }, 10000));
                EXPECT_TRUE(intruderFailed);
                EXPECT_EQ(committedMeanwhile, "");
                const std::vector<std::string> expected
                    = { "intruder ran", "owner back", "owner committed", "scan inserted" };
                EXPECT_EQ(order, expected);
                EXPECT_EQ(CommittedNames(folder), "owner1,owner2,scan");
                EXPECT_EQ(LogLinesWith("rolled back"), 0);
            }
        }
    }
}
