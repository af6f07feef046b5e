#include "mainwindowtest.h"

#include "platform/listbox.h"
#include "scan/sha.h"
#include "tests/support/widgetprobes.h"
#include "ui/warnings/winalert.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace platform;
using namespace mainwindowtest;
using platform::testing::ClickCellThroughWindow;
using platform::testing::ClickThroughWindow;
using platform::testing::LambdaThread;

namespace {

constexpr const char *kSuccessful = "CRC Validation is Successful.";

/// A row of a warnings window on screen: its five cells and its two cell tags.
struct AlertRow
{
    std::string name, path, resource, last, current, tagPath;
    int64_t tagIdx;
    bool operator==(const AlertRow &) const = default;
};

void PrintTo(const AlertRow &r, std::ostream *os)
{
    *os << "{" << r.name << ", " << r.path << ", " << r.resource << ", " << r.last << ", "
        << r.current << ", " << r.tagPath << ", " << r.tagIdx << "}";
}

class ValidateTest : public MainWindowTest
{
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        MakeCatalogue();
        Globals::g_winAlert = MakeWindow<winAlert>();
    }

    /// Writes the file `name` into Files() and stores its row with `crc` (its own digest when
    /// nullptr); returns its idx.
    int64_t StoreFile(const std::string &name, const std::string &bytes, bool exempt = false,
        const std::string *crc = nullptr)
    {
        platform::testing::WriteFile(Files() + "/" + name, bytes);
        return InsertFileRow(ColonPath(name), name, crc ? *crc : DigestOf(name), exempt);
    }

    std::string DigestOf(const std::string &name) const
    {
        return DataForkSHA(FolderItem::FromNativePath(Files() + "/" + name));
    }

    /// The warnings windows on screen, each with its rows.
    static std::vector<std::vector<AlertRow>> ShownWarnings()
    {
        std::vector<std::vector<AlertRow>> shown;
        for (const auto &window : OpenWindows()) {
            const auto alert = window.As<winAlert>();
            if (!alert || !alert->Visible())
                continue;
            std::vector<AlertRow> rows;
            const auto &list = alert->AlertList;
            for (int r = 0; r < list->ListCount(); ++r) {
                rows.push_back({ list->Cell(r, 0), list->Cell(r, 1), list->Cell(r, 2),
                    list->Cell(r, 3), list->Cell(r, 4), list->CellTag(r, 0).As<std::string>(),
                    list->CellTag(r, 1).As<int64_t>() });
            }
            shown.push_back(rows);
        }
        return shown;
    }

    /// The row that warns of the file `name` stored with `last` and digested now.
    AlertRow WarningOf(const std::string &name, const std::string &last, int64_t idx) const
    {
        return { name, ColonPath(name), "<data>", last, DigestOf(name), ColonPath(name), idx };
    }
};

const std::string kStale(64, 'A');

struct OutcomeCase
{
    const char *label;
    bool changed;
    bool exempt;
};

void PrintTo(const OutcomeCase &c, std::ostream *os) { *os << c.label; }

class ValidateOutcomeTest : public ValidateTest, public ::testing::WithParamInterface<OutcomeCase>
{
};

TEST_P(ValidateOutcomeTest, Press_UnchangedChangedExempt_MessageOrOneWindowWithTheRow)
{
    const OutcomeCase &c = GetParam();
    const int64_t idx = c.changed ? StoreFile("a.txt", "contents", c.exempt, &kStale)
                                  : StoreFile("a.txt", "contents", c.exempt);
    auto w = LoadedWindow();
    ClickCellThroughWindow(*w->lstFiles, 0, 0);
    const Ref<winAlert> hidden = Globals::g_winAlert;

    w->btnValidate_Action();

    if (c.changed) {
        EXPECT_EQ(m_dialogs->Messages(), std::vector<std::string> {});
        const std::vector<std::vector<AlertRow>> expected { { WarningOf("a.txt", kStale, idx) } };
        EXPECT_EQ(ShownWarnings(), expected);
        EXPECT_EQ(DigestOf("a.txt").size(), 64u);
        EXPECT_TRUE(hidden->Visible());
        ASSERT_TRUE(Globals::g_winAlert);
        EXPECT_NE(Globals::g_winAlert, hidden);
        EXPECT_FALSE(Globals::g_winAlert->Visible());
        EXPECT_EQ(Globals::g_winAlert->AlertList->ListCount(), 0);
    } else {
        EXPECT_EQ(m_dialogs->Messages(), std::vector<std::string> { kSuccessful });
        EXPECT_EQ(ShownWarnings(), std::vector<std::vector<AlertRow>> {});
        EXPECT_EQ(Globals::g_winAlert, hidden);
    }
    // The catalogue keeps its checksum until the user takes the new one.
    EXPECT_EQ(StoredRows().at(0).crc, c.changed ? kStale : DigestOf("a.txt"));
    EXPECT_EQ(reports, std::vector<CaughtReport> {});
}

INSTANTIATE_TEST_SUITE_P(Cases, ValidateOutcomeTest,
    ::testing::Values(OutcomeCase { "Unchanged", false, false },
        OutcomeCase { "Changed", true, false }, OutcomeCase { "ExemptAndChanged", true, true }),
    [](const ::testing::TestParamInfo<OutcomeCase> &info) { return info.param.label; });

TEST_F(ValidateTest, Press_TwiceOnAChangedFile_TwoWindowsOfOneRowEach)
{
    const int64_t idx = StoreFile("a.txt", "contents", false, &kStale);
    auto w = LoadedWindow();
    ClickCellThroughWindow(*w->lstFiles, 0, 0);

    ClickThroughWindow(*w->btnValidate);
    ClickThroughWindow(*w->btnValidate);

    const AlertRow row = WarningOf("a.txt", kStale, idx);
    const std::vector<std::vector<AlertRow>> expected { { row }, { row } };
    EXPECT_TRUE(ProcessEventsUntil([&] { return ShownWarnings().size() == 2; }, kWaitMs));
    EXPECT_EQ(ShownWarnings(), expected);
    EXPECT_FALSE(Globals::g_winAlert->Visible());
}

TEST_F(ValidateTest, Press_ThreeRowsSelected_OnlyTheLastClickedRowIsChecked)
{
    std::vector<int64_t> idx;
    for (const char *name : { "a.txt", "b.txt", "c.txt" })
        idx.push_back(StoreFile(name, name, false, &kStale));
    auto w = LoadedWindow();
    ClickCellThroughWindow(*w->lstFiles, 0, 0);
    ClickCellThroughWindow(*w->lstFiles, 2, 0, /*control=*/true);
    ClickCellThroughWindow(*w->lstFiles, 1, 0, /*control=*/true);
    ASSERT_EQ(w->lstFiles->SelCount(), 3);
    ASSERT_EQ(w->lstFiles->Cell(1, 0), "b.txt");

    ClickThroughWindow(*w->btnValidate);

    const std::vector<std::vector<AlertRow>> expected { { WarningOf("b.txt", kStale, idx[1]) } };
    EXPECT_TRUE(ProcessEventsUntil([&] { return ShownWarnings().size() == 1; }, kWaitMs));
    EXPECT_EQ(ShownWarnings(), expected);
}

TEST_F(ValidateTest, Press_WhileARecheckRuns_DoesNothing)
{
    // Pieces of the digest yield; the thread presses while the first re-check is digesting.
    StoreFile("big.bin", std::string(3 << 20, 'x'), false, &kStale);
    auto w = LoadedWindow();
    ClickCellThroughWindow(*w->lstFiles, 0, 0);
    bool pressed = false;
    auto presser = std::make_shared<LambdaThread>([&] {
        w->btnValidate->Action();
        pressed = true;
    });
    presser->Run();

    w->btnValidate_Action();

    ASSERT_TRUE(ProcessEventsUntil([&] { return Scheduler::LiveCount() == 0; }, kWaitMs));
    EXPECT_TRUE(pressed);
    EXPECT_EQ(ShownWarnings().size(), 1u);
    // Once it is over, a press checks again.
    w->btnValidate_Action();
    EXPECT_EQ(ShownWarnings().size(), 2u);
}

TEST_F(ValidateTest, Press_OnALargeFile_TheEventLoopTurnsWhileItDigests)
{
    // A sparse file, so that its size costs no disk: long enough to digest for several slices.
    StoreFile("large.bin", "", false, &kStale);
    std::filesystem::resize_file(Files() + "/large.bin", std::uintmax_t(256) << 20);
    auto w = LoadedWindow();
    ClickCellThroughWindow(*w->lstFiles, 0, 0);
    // A thread that sleeps wakes by a timer only, so only a turning event loop wakes it, as it
    // repaints the windows: a scan's status lines, a loader's list.
    bool done = false;
    int wakes = 0;
    auto sleeper = std::make_shared<LambdaThread>([&] {
        while (!done) {
            CurrentThread()->Sleep(1);
            ++wakes;
        }
    });
    sleeper->Run();

    w->btnValidate_Action();

    const int wakesWhileDigesting = wakes;
    done = true;
    ASSERT_TRUE(ProcessEventsUntil([&] { return Scheduler::LiveCount() == 0; }, kWaitMs));
    EXPECT_GT(wakesWhileDigesting, 0);
    EXPECT_EQ(ShownWarnings().size(), 1u);
}

struct GuardCase
{
    const char *label;
    std::function<void(TestWindow1 &)> spoil;
    std::vector<std::string> messages;
};

void PrintTo(const GuardCase &c, std::ostream *os) { *os << c.label; }

class ValidateGuardTest : public ValidateTest, public ::testing::WithParamInterface<GuardCase>
{
};

TEST_P(ValidateGuardTest, Press_RowOrItsFileOrItsCatalogueRowGone_NothingDigestedOrWarned)
{
    const GuardCase &c = GetParam();
    StoreFile("a.txt", "contents", false, &kStale);
    auto w = LoadedWindow();
    ClickCellThroughWindow(*w->lstFiles, 0, 0);
    const Ref<winAlert> hidden = Globals::g_winAlert;
    c.spoil(*w);

    w->btnValidate_Action();

    EXPECT_EQ(m_dialogs->Messages(), c.messages);
    EXPECT_EQ(ShownWarnings(), std::vector<std::vector<AlertRow>> {});
    EXPECT_EQ(Globals::g_winAlert, hidden);
    EXPECT_EQ(reports, std::vector<CaughtReport> {});
}

INSTANTIATE_TEST_SUITE_P(Cases, ValidateGuardTest,
    ::testing::Values(GuardCase { "RowPastTheListsEnd",
                          [](TestWindow1 &w) { w.MyRow = w.lstFiles->ListCount(); }, {} },
        GuardCase { "VolumeGone",
            [](TestWindow1 &w) { w.lstFiles->SetRowTag(0, std::string("NoSuchVolume:a.txt")); },
            { "The file's location can no longer be found." } },
        GuardCase { "CatalogueRowDeleted",
            [](TestWindow1 &) {
                Globals::g_DB->SQLExecute("DELETE FROM fileinfo;");
                Globals::g_DB->Commit();
            },
            { "The file's catalogue row no longer exists." } },
        GuardCase { "CatalogueUnreadable",
            [](TestWindow1 &) {
                Globals::g_DB->SQLExecute("ALTER TABLE fileinfo RENAME TO gone;");
                Globals::g_DB->Commit();
            },
            { "Unable to read the file's catalogue row." } }),
    [](const ::testing::TestParamInfo<GuardCase> &info) { return info.param.label; });

} // namespace
