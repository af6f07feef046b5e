#include "mainwindowtest.h"

#include "platform/controls.h"
#include "platform/listbox.h"
#include "ui/warnings/winalert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

using namespace platform;
using namespace mainwindowtest;

namespace {

class OpenCloseTest : public MainWindowTest
{
protected:
    std::string PrefsPath() const { return Config() + "/Brindlecove_Prefs"; }

    /// The debug log's preferences lines.
    std::vector<std::string> SavingLines() const
    {
        std::vector<std::string> lines;
        for (const std::string &line : debugLog) {
            if (line.rfind("[TLM]: Saving ", 0) == 0)
                lines.push_back(line);
        }
        return lines;
    }

    /// Opens the main window, puts it at (left, top) and closes it, as one run of the program.
    void RunOnce(int left, int top)
    {
        auto w = OpenMainWindow();
        w->SetLeft(left);
        w->SetTop(top);
        ASSERT_EQ(w->Left(), left);
        ASSERT_EQ(w->Top(), top);
        w->Close();
    }
};

} // namespace

TEST_F(OpenCloseTest, EventOpen_WithoutCatalogue_HeadingsNoRowsHiddenBarNoLoader)
{
    // A catalogue with a row, which a loader would show: none may run.
    MakeCatalogue();
    InsertFileRow("Disk:nowhere:a.txt", "a.txt", std::string(64, 'A'));
    auto w = OpenMainWindow(/*dbExists=*/false);
    EXPECT_EQ(Scheduler::LiveCount(), 0u) << "a loader was started";

    const Listbox &list = *w->lstFiles;
    EXPECT_EQ(list.ColumnCount(), 4);
    const std::vector<std::string> headings
        = { list.Heading(0), list.Heading(1), list.Heading(2), list.Heading(3) };
    EXPECT_EQ(
        headings, (std::vector<std::string> { "File Name", "Resource", "Last SHA_256", "Exempt" }));
    EXPECT_EQ(list.ColumnType(3), Listbox::TypeCheckbox);
    EXPECT_EQ(list.ColumnWidths(), "*, 65, 185, 60");
    EXPECT_FALSE(w->pb->Visible());
    EXPECT_TRUE(w->HasMenuHandler("FileOpenFolder"));
    ASSERT_TRUE(Globals::g_winAlert);
    EXPECT_FALSE(Globals::g_winAlert->Visible());
    EXPECT_FALSE(Globals::g_winAlert->IsClosed());

    ASSERT_TRUE(platform::testing::RunPostedCalls(kWaitMs));
    EXPECT_EQ(list.ListCount(), 0);
    EXPECT_EQ(Scheduler::LiveCount(), 0u);
    EXPECT_TRUE(Globals::OldFiles.empty());
    EXPECT_TRUE(reports.empty());
}

TEST_F(OpenCloseTest, EventOpen_WithCatalogue_TheLoaderFillsTheList)
{
    MakeCatalogue();
    const int64_t a = InsertFileRow("Disk:nowhere:a.txt", "a.txt", std::string(64, 'A'));
    const int64_t b = InsertFileRow("Disk:nowhere:b.txt", "b.txt", std::string(64, 'B'), true);
    auto w = OpenMainWindow(/*dbExists=*/true);
    EXPECT_EQ(Scheduler::LiveCount(), 1u);
    ASSERT_TRUE(ProcessEventsUntil(
        [&] {
            return Scheduler::LiveCount() == 0
                && w->StaticText1->Text() == "Files loaded Successfully!";
        },
        kWaitMs));

    const Listbox &list = *w->lstFiles;
    ASSERT_EQ(list.ListCount(), 2);
    struct Shown
    {
        std::vector<std::string> cells;
        int64_t idx;
        std::string path;
        bool exempt;
        bool operator==(const Shown &) const = default;
    };
    for (int row = 0; row < 2; ++row) {
        SCOPED_TRACE(row);
        const Shown shown { { list.Cell(row, 0), list.Cell(row, 1), list.Cell(row, 2) },
            list.CellTag(row, 0).As<int64_t>(), list.RowTag(row).As<std::string>(),
            list.CellCheck(row, 3) };
        const Shown expected = row == 0
            ? Shown { { "a.txt", "<data>", std::string(64, 'A') }, a, "Disk:nowhere:a.txt", false }
            : Shown { { "b.txt", "<data>", std::string(64, 'B') }, b, "Disk:nowhere:b.txt", true };
        EXPECT_TRUE(shown == expected);
    }
    EXPECT_EQ(Globals::OldFiles.size(), 2u);
    EXPECT_TRUE(w->pbMBS->Enabled());
    EXPECT_FALSE(w->pb->Visible());
}

TEST_F(OpenCloseTest, EventClose_WritesPrefsClosesTheWaitingWarningsWindowAndTheCatalogue)
{
    MakeCatalogue();
    auto w = OpenMainWindow();
    const Ref<winAlert> waiting = Globals::g_winAlert;
    // A warning already on screen stays there: it ends with the program.
    auto shown = MakeWindow<winAlert>();
    shown->SendAlert("a.txt", "<data>", "OLD", "NEW", "Disk:a.txt", 1);
    const Ref<Database> db = Globals::g_DB;

    w->Close();
    EXPECT_TRUE(waiting->IsClosed());
    EXPECT_FALSE(shown->IsClosed());
    EXPECT_FALSE(Globals::g_winAlert);
    EXPECT_FALSE(Globals::g_DB);
    EXPECT_FALSE(db->IsConnected());
    EXPECT_TRUE(QuitRequested());
    EXPECT_TRUE(std::filesystem::exists(PrefsPath()));
    EXPECT_TRUE(reports.empty());
}

TEST_F(OpenCloseTest, SaveWindowPrefs_FiveLines_NegativePositionsWithTheirSign)
{
    struct Case
    {
        int left, top, width, height;
        const char *widths; // nullptr: as the window opened
        std::string file;
    };
    const Case cases[] = {
        { -300, -40, 846, 651, nullptr, "-300\n-40\n846\n651\n*, 65, 185, 60\n" },
        { 25, 60, 1000, 700, "*, 80, 200, 60", "25\n60\n1000\n700\n*, 80, 200, 60\n" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        debugLog.clear();
        auto w = OpenMainWindow();
        w->SetSize(c.width, c.height);
        w->SetLeft(c.left);
        w->SetTop(c.top);
        if (c.widths)
            w->lstFiles->SetColumnWidths(c.widths);
        w->Close();
        EXPECT_EQ(platform::testing::ReadFile(PrefsPath()), c.file);
        const std::vector<std::string> lines = { "[TLM]: Saving X @ " + std::to_string(c.left),
            "[TLM]: Saving Y @ " + std::to_string(c.top),
            "[TLM]: Saving Width @ " + std::to_string(c.width),
            "[TLM]: Saving Height @ " + std::to_string(c.height) };
        EXPECT_EQ(SavingLines(), lines);
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(OpenCloseTest, SaveWindowPrefs_TwoRuns_OnlyTheSecondRunsLines)
{
    RunOnce(-12345, -678);
    RunOnce(5, 6);
    EXPECT_EQ(platform::testing::ReadFile(PrefsPath()), "5\n6\n846\n651\n*, 65, 185, 60\n");
}

TEST_F(OpenCloseTest, SaveWindowPrefs_NoPlaceToWrite_TheWindowStillCloses)
{
    struct Case
    {
        const char *name;
        bool folderMissing; // else the file's name is taken by a folder: no writer
        std::vector<CaughtReport> reports;
    };
    const Case cases[] = {
        { "missing preferences folder", true,
            { { "NilObjectException", "winMain.Methods.SaveWindowPrefs" } } },
        { "no writer", false, {} },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        reports.clear();
        debugLog.clear();
        const std::string missing = m_tmp / "no-such-config";
        const platform::testing::EnvironmentVariable config(
            "XDG_CONFIG_HOME", (c.folderMissing ? missing : Config()).c_str());
        if (!c.folderMissing)
            std::filesystem::create_directories(PrefsPath());
        MakeCatalogue();
        auto w = OpenMainWindow();
        w->Close();
        EXPECT_EQ(reports, c.reports);
        EXPECT_TRUE(SavingLines().empty());
        EXPECT_FALSE(std::filesystem::exists(missing));
        // The rest of the close ran.
        EXPECT_FALSE(Globals::g_DB);
        EXPECT_FALSE(Globals::g_winAlert);
        std::filesystem::remove(CataloguePath());
    }
}

TEST_F(OpenCloseTest, LoadWindowPrefs_AppliesWhatLiesWithinTheScreenBounds)
{
    using Bounds = TestWindow1::Bounds;
    struct Case
    {
        const char *name;
        Bounds bounds;
        std::optional<std::string> file; // nullopt: no file
        // nullopt: left as the window opened
        std::optional<int> left, top, width, height;
        std::string widths;
    };
    const Case cases[] = {
        { "bounds never gathered", { 0, 0, 0, 0 }, "10\n20\n900\n700\n*, 70, 185, 60\n", 10, 20,
            std::nullopt, std::nullopt, "*, 70, 185, 60" },
        { "within the bounds", { -1920, 0, 3840, 2160 }, "-100\n-5\n1000\n700\n*, 80, 185, 60\n",
            -100, std::nullopt, 1000, 700, "*, 80, 185, 60" },
        { "past the right and bottom edges", { 0, 0, 1000, 800 },
            "500\n300\n900\n700\n*, 80, 185, 60\n", 500, 300, std::nullopt, std::nullopt,
            "*, 80, 185, 60" },
        { "not numbers, cut short", { -1920, 0, 3840, 2160 }, "abc\n\n0\n-5\n", 0, 0, std::nullopt,
            std::nullopt, "*, 65, 185, 60" },
        { "numbers with trailing text", { -1920, 0, 3840, 2160 }, " -7px\n+8\n900.9\n700\n", -7, 8,
            900, 700, "*, 65, 185, 60" },
        { "no file", { -1920, 0, 3840, 2160 }, std::nullopt, std::nullopt, std::nullopt,
            std::nullopt, std::nullopt, "*, 65, 185, 60" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(PrefsPath());
        if (c.file)
            platform::testing::WriteFile(PrefsPath(), *c.file);
        auto w = OpenMainWindow();
        const int left = w->Left(), top = w->Top(), width = w->Width(), height = w->Height();
        w->SetScreenBounds(c.bounds);
        w->LoadWindowPrefs();
        EXPECT_EQ(w->Left(), c.left.value_or(left));
        EXPECT_EQ(w->Top(), c.top.value_or(top));
        EXPECT_EQ(w->Width(), c.width.value_or(width));
        EXPECT_EQ(w->Height(), c.height.value_or(height));
        EXPECT_EQ(w->lstFiles->ColumnWidths(), c.widths);
        // Only for the test: closing would write the file again.
        w->Close();
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(OpenCloseTest, CalculateScreenSizes_SmallestLeftAndTopLargestRightAndBottom)
{
    auto w = OpenMainWindow();
    EXPECT_TRUE(w->ScreenBounds() == (TestWindow1::Bounds { 0, 0, 0, 0 }));
    w->CalculateScreenSizes();
    TestWindow1::Bounds expected { INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN };
    for (int i = 0; i < ScreenCount(); ++i) {
        const ScreenArea s = Screen(i);
        expected.minLeft = std::min(expected.minLeft, s.Left);
        expected.minTop = std::min(expected.minTop, s.Top);
        expected.maxLeft = std::max(expected.maxLeft, s.Left + s.Width);
        expected.maxTop = std::max(expected.maxTop, s.Top + s.Height);
    }
    EXPECT_TRUE(w->ScreenBounds() == expected);
}
