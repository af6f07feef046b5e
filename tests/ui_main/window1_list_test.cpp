#include "mainwindowtest.h"

#include "platform/controls.h"
#include "platform/graphics.h"
#include "platform/listbox.h"
#include "tests/support/widgetprobes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace platform;
using namespace mainwindowtest;
using platform::testing::ClickCellThroughWindow;
using platform::testing::ClickCheckBoxThroughWindow;
using platform::testing::ClickThroughWindow;
using platform::testing::RowsInView;

namespace {

constexpr const char *kUpdateFailed = "Unable to update database record.";

class CatalogueListTest : public MainWindowTest
{
protected:
    /// The stored exempt flags, in idx order (NULL reads as false).
    std::vector<bool> StoredFlags() const
    {
        std::vector<bool> flags;
        for (const StoredRow &r : StoredRows())
            flags.push_back(r.exempt.value_or(false));
        return flags;
    }

    static std::vector<bool> Boxes(const Window1 &w)
    {
        std::vector<bool> boxes;
        for (int i = 0; i < w.lstFiles->ListCount(); ++i)
            boxes.push_back(w.lstFiles->CellCheck(i, 3));
        return boxes;
    }

    /// Five file rows, "f0.txt" to "f4.txt", none exempt.
    void FiveFiles()
    {
        MakeCatalogue();
        for (int i = 0; i < 5; ++i) {
            const std::string name = "f" + std::to_string(i) + ".txt";
            InsertFileRow(ColonPath(name), name, std::string(64, char('A' + i)));
        }
    }

    /// Selects the rows with real clicks: the first plainly, the others with Ctrl held.
    static void SelectRows(const Window1 &w, const std::vector<int> &rows)
    {
        for (std::size_t k = 0; k < rows.size(); ++k)
            ClickCellThroughWindow(*w.lstFiles, rows[k], 0, /*control=*/k > 0);
        for (int row : rows)
            ASSERT_TRUE(w.lstFiles->Selected(row)) << "row " << row;
        ASSERT_EQ(w.lstFiles->SelCount(), int(rows.size()));
    }

    /// Refuses, through a trigger of the catalogue, every change of the exempt flag of the rows
    /// whose idx `condition` picks.
    static void RefuseUpdates(const std::string &condition)
    {
        Globals::g_DB->SQLExecute("CREATE TRIGGER refuse BEFORE UPDATE OF exempt ON fileinfo WHEN "
            + condition + " BEGIN SELECT RAISE(ABORT, 'refused'); END;");
        ASSERT_FALSE(Globals::g_DB->Error()) << Globals::g_DB->ErrorMessage();
    }
};

} // namespace

TEST_F(CatalogueListTest, CheckBox_TwoFilesOfOneNameInTwoFolders_ChangesTheClickedRowsOwnFlag)
{
    MakeCatalogue();
    std::filesystem::create_directories(Files() + "/a");
    std::filesystem::create_directories(Files() + "/b");
    InsertFileRow(ColonPath("a/same.txt"), "same.txt", std::string(64, 'A'));
    InsertFileRow(ColonPath("b/same.txt"), "same.txt", std::string(64, 'B'));
    auto w = LoadedWindow();

    struct Step
    {
        int row;
        std::vector<bool> flags; // stored, in idx order, and shown by the boxes
    };
    const Step steps[] = {
        { 1, { false, true } },
        { 0, { true, true } },
        { 1, { true, false } },
        { 0, { false, false } },
    };
    for (const Step &step : steps) {
        SCOPED_TRACE("click on row " + std::to_string(step.row));
        ClickCheckBoxThroughWindow(*w->lstFiles, step.row, 3);
        ASSERT_TRUE(ProcessEventsUntil([&] { return StoredFlags() == step.flags; }, kWaitMs))
            << "the flags were not stored by the clicked row";
        EXPECT_EQ(Boxes(*w), step.flags);
    }
    EXPECT_TRUE(m_dialogs->Messages().empty());
    EXPECT_TRUE(reports.empty());
}

struct NoFileRowCase
{
    const char *name;
    bool folderRow; // else a file row, deleted after the list was loaded
};

void PrintTo(const NoFileRowCase &c, std::ostream *os) { *os << c.name; }

class CheckBoxWithoutFileRow : public CatalogueListTest,
                               public ::testing::WithParamInterface<NoFileRowCase>
{
};

INSTANTIATE_TEST_SUITE_P(Rows, CheckBoxWithoutFileRow,
    ::testing::Values(NoFileRowCase { "AncestorFolderRow", true },
        NoFileRowCase { "FileRowDeletedMeanwhile", false }),
    [](const auto &info) { return std::string(info.param.name); });

TEST_P(CheckBoxWithoutFileRow, BoxGoesBackAndNothingIsWritten)
{
    MakeCatalogue();
    InsertFileRow(ColonPath("kept.txt"), "kept.txt", std::string(64, 'K'));
    const int64_t idx = GetParam().folderRow ? InsertFolderRow(ColonPath(""), "files")
                                             : InsertFileRow(ColonPath("gone.txt"), "gone.txt", "");
    auto w = LoadedWindow();
    if (!GetParam().folderRow) {
        Globals::g_DB->SQLExecute("DELETE FROM fileinfo WHERE idx = " + std::to_string(idx));
        ASSERT_FALSE(Globals::g_DB->Error());
    }
    std::vector<StoredRow> expected = StoredRows();
    expected[0].exempt = true;

    ClickCheckBoxThroughWindow(*w->lstFiles, 1, 3);
    // A click on the file row's box afterwards: once its flag is stored, the first click has
    // been handled too.
    ClickCheckBoxThroughWindow(*w->lstFiles, 0, 3);
    ASSERT_TRUE(ProcessEventsUntil([&]() -> bool { return StoredFlags()[0]; }, kWaitMs));
    EXPECT_FALSE(w->lstFiles->CellCheck(1, 3)) << "the box kept a flag that was not stored";
    EXPECT_EQ(StoredRows(), expected);
    EXPECT_TRUE(m_dialogs->Messages().empty());
    EXPECT_TRUE(reports.empty());
}

TEST_F(CatalogueListTest, CheckBox_UpdateFails_RolledBackBoxGoesBackOneMessage)
{
    MakeCatalogue();
    InsertFileRow(ColonPath("a.txt"), "a.txt", std::string(64, 'A'));
    auto w = LoadedWindow();
    RefuseUpdates("1");
    const std::vector<StoredRow> before = StoredRows();

    ClickCheckBoxThroughWindow(*w->lstFiles, 0, 3);
    ASSERT_TRUE(ProcessEventsUntil([&] { return !m_dialogs->Messages().empty(); }, kWaitMs));
    EXPECT_EQ(m_dialogs->Messages(), std::vector<std::string> { kUpdateFailed });
    EXPECT_FALSE(w->lstFiles->CellCheck(0, 3));
    EXPECT_EQ(StoredRows(), before);
}

TEST_F(CatalogueListTest, ExemptButtons_Rows1And3OfFive_FlagsByIdxOneCommitPerRow)
{
    FiveFiles();
    auto w = LoadedWindow();
    SelectRows(*w, { 1, 3 });
    ASSERT_TRUE(w->btnExempt->Enabled());

    // A second connection notes what is committed at each of its turns, which in the
    // deterministic mode come at every yield of the loop.
    std::vector<std::vector<bool>> committed;
    bool pressed = false;
    auto probe = std::make_shared<platform::testing::LambdaThread>([&] {
        for (;;) {
            const std::vector<bool> flags = StoredFlags();
            if (committed.empty() || committed.back() != flags)
                committed.push_back(flags);
            if (pressed)
                return;
            Yield();
        }
    });
    probe->Run();
    ClickThroughWindow(*w->btnExempt);
    pressed = true;
    ASSERT_TRUE(ProcessEventsUntil([] { return Scheduler::LiveCount() == 0; }, kWaitMs));

    const std::vector<bool> none(5, false);
    const std::vector<bool> row1 = { false, true, false, false, false };
    const std::vector<bool> rows13 = { false, true, false, true, false };
    const std::vector<std::vector<bool>> states = { none, row1, rows13 };
    EXPECT_EQ(committed, states) << "row 1 is committed on its own before row 3 is written";
    EXPECT_EQ(Boxes(*w), rows13);
    EXPECT_TRUE(m_dialogs->Messages().empty());

    // Unexempt clears them again; a second press stores false once more.
    for (int press = 0; press < 2; ++press) {
        SCOPED_TRACE("unexempt press " + std::to_string(press + 1));
        ClickThroughWindow(*w->btnUnexempt);
        EXPECT_EQ(StoredFlags(), none);
        EXPECT_EQ(Boxes(*w), none);
    }
    for (const StoredRow &r : StoredRows())
        EXPECT_EQ(r.exempt, false) << r.idx;
    EXPECT_TRUE(m_dialogs->Messages().empty());
    EXPECT_TRUE(reports.empty());
}

TEST_F(CatalogueListTest, ToggleSelected_RowWithoutAFileRow_BoxGoesBackNothingWrittenNoMessage)
{
    MakeCatalogue();
    InsertFileRow(ColonPath("a.txt"), "a.txt", std::string(64, 'A'));
    InsertFolderRow(ColonPath("") + ":", "files");
    const int64_t gone = InsertFileRow(ColonPath("gone.txt"), "gone.txt", "");
    InsertFileRow(ColonPath("b.txt"), "b.txt", std::string(64, 'B'));
    auto w = LoadedWindow();
    Globals::g_DB->SQLExecute("DELETE FROM fileinfo WHERE idx = " + std::to_string(gone));
    const std::vector<StoredRow> before = StoredRows();
    SelectRows(*w, { 1, 2 });

    w->ToggleSelected(true);
    EXPECT_EQ(Boxes(*w), (std::vector<bool> { false, false, false, false }));
    EXPECT_EQ(StoredRows(), before);
    EXPECT_TRUE(m_dialogs->Messages().empty());
    EXPECT_TRUE(reports.empty());
}

struct RefusedCase
{
    const char *name;
    const char *refused; // the trigger's condition
    std::vector<bool> flags; // stored and shown after the press
};

void PrintTo(const RefusedCase &c, std::ostream *os) { *os << c.name; }

class ToggleSelectedRefused : public CatalogueListTest,
                              public ::testing::WithParamInterface<RefusedCase>
{
};

INSTANTIATE_TEST_SUITE_P(Updates, ToggleSelectedRefused,
    ::testing::Values(RefusedCase { "BothRows", "1", { false, false, false, false, false } },
        RefusedCase { "Row3Only", "NEW.idx = 4", { false, true, false, false, false } }),
    [](const auto &info) { return std::string(info.param.name); });

TEST_P(ToggleSelectedRefused, RolledBackBoxGoesBackOneMessagePerPress)
{
    FiveFiles();
    auto w = LoadedWindow();
    RefuseUpdates(GetParam().refused);
    SelectRows(*w, { 1, 3 });

    ClickThroughWindow(*w->btnExempt);
    EXPECT_EQ(m_dialogs->Messages(), std::vector<std::string> { kUpdateFailed });
    EXPECT_EQ(StoredFlags(), GetParam().flags);
    EXPECT_EQ(Boxes(*w), GetParam().flags);
    EXPECT_TRUE(reports.empty());
}

TEST_F(CatalogueListTest, CellBackgroundPaint_StripesAndGridLines_AlsoPastTheLastRow)
{
    MakeCatalogue();
    for (const char *name : { "a.txt", "b.txt", "c.txt" })
        InsertFileRow(ColonPath(name), name, ""); // column 2 stays empty: nothing drawn over it
    auto w = LoadedWindow();
    ASSERT_TRUE(platform::testing::RunPostedCalls(kWaitMs));

    const platform::testing::ListShot shot(*w->lstFiles);
    const int h = shot.RowHeight();
    const Color grid = RGB(230, 230, 230);
    for (int row = 0; row < 6; ++row) {
        SCOPED_TRACE("row " + std::to_string(row) + (row >= 3 ? ", past the last row" : ""));
        const Color stripe = row % 2 == 0 ? RGB(255, 255, 255) : RGB(237, 243, 254);
        const int width = shot.CellWidth(2);
        EXPECT_EQ(shot.CellPixel(row, 2, width / 2, h / 2), stripe);
        EXPECT_EQ(shot.CellPixel(row, 2, 1, 1), stripe);
        for (int column = 0; column < 4; ++column) {
            SCOPED_TRACE("column " + std::to_string(column));
            EXPECT_EQ(shot.CellPixel(row, column, shot.CellWidth(column) - 1, h / 2), grid);
        }
        EXPECT_EQ(shot.CellPixel(row, 2, width / 2, h - 1), grid);
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(CatalogueListTest, CellClick_DetailsOfAnExistingFile_MissingFileKeepsThemButIsTheRow)
{
    MakeCatalogue();
    platform::testing::WriteFile(Files() + "/here.txt", "here");
    InsertFileRow(ColonPath("here.txt"), "here.txt", std::string(64, 'H'));
    InsertFileRow(ColonPath("missing.txt"), "missing.txt", std::string(64, 'M'));
    auto w = LoadedWindow();
    const Ref<FolderItem> here = FolderItem::FromNativePath(Files() + "/here.txt");

    struct Details
    {
        std::string fileName, location, helpTag, created, modified;
        bool operator==(const Details &) const = default;
    };
    auto shown = [&] {
        return Details { w->FileName->Text(), w->Location->Text(), w->Location->HelpTag(),
            w->Created->Text(), w->Modified->Text() };
    };
    const Details design { "File Name:", "Location:", "", "Created On:", "Last Modified:" };
    const Details ofHere { "File Name: here.txt", "Location: " + here->AbsolutePath(),
        here->AbsolutePath(), "Created On: " + here->CreationDate().SQLDateTime(),
        " Last Modified On: " + here->ModificationDate().SQLDateTime() };
    struct Step
    {
        int row;
        Details details;
    };
    const Step steps[] = { { 1, design }, { 0, ofHere }, { 1, ofHere } };
    for (const Step &step : steps) {
        SCOPED_TRACE("click on row " + std::to_string(step.row));
        ClickCellThroughWindow(*w->lstFiles, step.row, 0);
        EXPECT_EQ(shown(), step.details);
        EXPECT_EQ(w->MyRow, step.row);
        // The list went on with the click.
        EXPECT_TRUE(w->lstFiles->Selected(step.row));
    }
}

TEST_F(CatalogueListTest, Selection_EnablesTheThreeRowButtonsWhileARowIsSelected)
{
    FiveFiles();
    auto w = LoadedWindow();
    auto buttons = [&] {
        return std::vector<bool> { w->btnExempt->Enabled(), w->btnUnexempt->Enabled(),
            w->btnValidate->Enabled() };
    };
    struct Step
    {
        const char *what;
        std::function<void()> act;
        bool enabled;
    };
    const Step steps[] = {
        { "nothing selected", [] {}, false },
        { "click on row 2", [&] { ClickCellThroughWindow(*w->lstFiles, 2, 0); }, true },
        { "ctrl-click on row 4", [&] { ClickCellThroughWindow(*w->lstFiles, 4, 0, true); }, true },
        { "ctrl-click on row 2", [&] { ClickCellThroughWindow(*w->lstFiles, 2, 0, true); }, true },
        { "ctrl-click on row 4", [&] { ClickCellThroughWindow(*w->lstFiles, 4, 0, true); }, false },
        { "click on row 0", [&] { ClickCellThroughWindow(*w->lstFiles, 0, 0); }, true },
        { "selection cleared", [&] { w->lstFiles->SetListIndex(-1); }, false },
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        EXPECT_EQ(buttons(), std::vector<bool>(3, step.enabled));
    }
}

TEST_F(CatalogueListTest, DropAcceptance_AnyFileOrFolder)
{
    auto w = OpenMainWindow();
    std::filesystem::create_directories(Files() + "/folder");
    platform::testing::WriteFile(Files() + "/file.bin", "x");
    EXPECT_TRUE(platform::testing::DragEnterAccepted(*w->lstFiles, { Files() + "/folder" }));
    EXPECT_TRUE(platform::testing::DragEnterAccepted(*w->lstFiles, { Files() + "/file.bin" }));
    EXPECT_FALSE(platform::testing::DragEnterAccepted(*w->lstFiles, { Files() + "/none" }));
}

namespace {

/// A drawing surface that cannot be drawn on.
class BrokenGraphics : public Graphics
{
public:
    int Width() const override { return 10; }
    int Height() const override { return 10; }
    void FillRect(int, int, int, int) override { throw OutOfMemoryException("no pixels"); }
    void DrawLine(int, int, int, int) override { }
};

} // namespace

struct CatchAllCase
{
    const char *name;
    std::function<void(TestWindow1 &)> act;
    CaughtReport report;
};

void PrintTo(const CatchAllCase &c, std::ostream *os) { *os << c.name; }

class CatchAllHandler : public CatalogueListTest, public ::testing::WithParamInterface<CatchAllCase>
{
};

INSTANTIATE_TEST_SUITE_P(Handlers, CatchAllHandler,
    ::testing::Values(CatchAllCase { "OpenWithoutTheFileType",
                          [](TestWindow1 &w) {
                              FileTypes::pSpecialAny = nullptr;
                              w.lstFiles_Open();
                          },
                          { "NilObjectException", "winMain.Controls.lstFiles.Open" } },
        CatchAllCase { "ChangeOnAClosedWindow",
            [](TestWindow1 &w) {
                w.Close();
                w.lstFiles_Change();
            },
            { "NilObjectException", "winMain.Controls.lstFiles.Change" } },
        CatchAllCase { "PaintOnABrokenSurface",
            [](TestWindow1 &w) {
                BrokenGraphics g;
                EXPECT_FALSE(w.lstFiles_CellBackgroundPaint(g, 0, 0));
            },
            { "OutOfMemoryException", "winMain.Controls.lstFiles.CellBackgroundPaint" } },
        // The loop's own catch-all reports; the button's sees nothing.
        CatchAllCase { "ExemptOnAClosedWindow",
            [](TestWindow1 &w) {
                w.Close();
                w.btnExempt_Action();
            },
            { "NilObjectException", "winMain.Methods.ToggleSelected" } },
        CatchAllCase { "UnexemptWithoutACatalogue",
            [](TestWindow1 &w) {
                w.lstFiles->AddRow("x");
                w.lstFiles->SetSelected(0, true);
                w.btnUnexempt_Action();
            },
            { "NilObjectException", "winMain.Methods.ToggleSelected" } }),
    [](const auto &info) { return std::string(info.param.name); });

TEST_P(CatchAllHandler, ReportsUnderItsTagAndReturnsNormally)
{
    auto w = OpenMainWindow();
    ASSERT_TRUE(platform::testing::RunPostedCalls(kWaitMs));
    ASSERT_TRUE(reports.empty());
    GetParam().act(*w);
    EXPECT_EQ(reports, std::vector<CaughtReport> { GetParam().report });
}
