#include "ui/warnings/winalert.h"

#include "platform/application.h"
#include "platform/exceptions.h"
#include "tests/support/widgetprobes.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

using namespace platform;
using platform::testing::ClickCell;
using platform::testing::DragFrameTo;
using platform::testing::ListShot;
using platform::testing::RowsInView;

namespace {

constexpr int kWaitMs = 5000;

/// A warnings window whose protected handlers a test may call, and which notes where the exempt
/// button stands after each of its resize handlers has run.
class WarningsProbe : public winAlert
{
public:
    using winAlert::Event_Open;
    using winAlert::HandleResize;

    struct Seen
    {
        std::string event;
        int width;
        int exemptLeft;
    };
    std::vector<Seen> seen;

    void Event_Resizing() override
    {
        winAlert::Event_Resizing();
        Note("resizing");
    }
    void Event_Resized() override
    {
        winAlert::Event_Resized();
        Note("resized");
    }

private:
    void Note(const char *event)
    {
        if (!IsClosed())
            seen.push_back({ event, Width(), btnExempt->Left() });
    }
};

/// A drawing surface that fails on first use, as a painter whose device has gone does.
class FailingGraphics : public Graphics
{
public:
    int Width() const override { throw OutOfBoundsException("no device"); }
    int Height() const override { throw OutOfBoundsException("no device"); }
    void FillRect(int, int, int, int) override { throw OutOfBoundsException("no device"); }
    void DrawLine(int, int, int, int) override { throw OutOfBoundsException("no device"); }
};

struct Reported
{
    std::string kind;
    std::string tag;
    friend bool operator==(const Reported &, const Reported &) = default;
};

void PrintTo(const Reported &r, std::ostream *os) { *os << r.kind << " at " << r.tag; }

class WinAlertTest : public ::testing::Test
{
protected:
    std::vector<Reported> reports;

    void SetUp() override
    {
        SetExceptionReporter([this](const RuntimeException &e, const std::string &tag) {
            reports.push_back({ e.ClassName(), tag });
        });
    }
    void TearDown() override
    {
        CloseAllWindows();
        SetExceptionReporter(nullptr);
    }

    /// Sends one warning with texts short enough to leave most of each cell bare.
    static void SendShortAlert(winAlert &w) { w.SendAlert("a", "r", "L", "C", "p", 1); }

    static void WaitForRows(const winAlert &w, int rows)
    {
        ASSERT_TRUE(ProcessEventsUntil([&] { return RowsInView(*w.AlertList) == rows; }, kWaitMs));
    }
};

struct Design
{
    const char *name;
    int left, top, width, height;
    std::array<bool, 4> locks; // left, top, right, bottom
    int tabIndex;
    bool enabled;
    const char *caption; // buttons only
};

const Design kDesign[] = {
    { "AlertList", 10, 10, 510, 248, { true, true, true, true }, 0, true, nullptr },
    { "btnExport", 358, 270, 162, 20, { false, false, true, true }, 1, true, "Export List..." },
    { "btnAccept", 10, 270, 162, 20, { true, false, false, true }, 2, false, "Update Checksum" },
    { "btnExempt", 184, 270, 162, 20, { true, false, false, true }, 3, false,
        "Exempt From Warning" },
};

} // namespace

TEST_F(WinAlertTest, MakeWindow_Fresh_HiddenEmptyHeadedAndSelectionButtonsDisabled)
{
    auto w = MakeWindow<winAlert>();
    EXPECT_FALSE(w->Visible());
    EXPECT_FALSE(w->IsClosed());
    EXPECT_EQ(w->Title(), "Corruption Warnings");
    EXPECT_EQ(std::make_pair(w->Width(), w->Height()), std::make_pair(530, 300));
    EXPECT_EQ(std::make_pair(w->MinWidth(), w->MinHeight()), std::make_pair(530, 150));
    EXPECT_EQ(std::make_pair(w->MaxWidth(), w->MaxHeight()), std::make_pair(32000, 32000));
    EXPECT_FALSE(w->InstalledMenuBar());

    const auto controls = w->Controls();
    ASSERT_EQ(controls.size(), std::size(kDesign));
    for (std::size_t i = 0; i < std::size(kDesign); ++i) {
        const Design &d = kDesign[i];
        SCOPED_TRACE(d.name);
        const auto &c = controls[i]; // in creation order
        EXPECT_EQ(c->Name(), d.name);
        EXPECT_EQ((std::array { c->Left(), c->Top(), c->Width(), c->Height() }),
            (std::array { d.left, d.top, d.width, d.height }));
        EXPECT_EQ(
            (std::array { c->LockLeft(), c->LockTop(), c->LockRight(), c->LockBottom() }), d.locks);
        EXPECT_EQ(c->TabIndex(), d.tabIndex);
        EXPECT_EQ(c->Enabled(), d.enabled);
        EXPECT_EQ(c->TextSize(), 0);
        if (auto button = c.As<PushButton>()) {
            EXPECT_EQ(button->Caption(), d.caption);
            EXPECT_EQ(button->TextFont(), "System");
        }
    }

    const Listbox &list = *w->AlertList;
    EXPECT_EQ(list.ListCount(), 0);
    EXPECT_TRUE(list.HasHeading());
    ASSERT_EQ(list.ColumnCount(), 5);
    const char *headings[] = { "File Name", "Path", "Resource", "Last Calc", "Current Calc" };
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(list.Heading(c), headings[c]) << c;
    EXPECT_EQ(list.ColumnWidths(), "*, 75, 75, 75,75");
    EXPECT_EQ(list.SelectionType(), 1);
    EXPECT_TRUE(list.Hierarchical());
    EXPECT_EQ(list.TextFont(), "SmallSystem");
    EXPECT_TRUE(reports.empty());
}

TEST_F(WinAlertTest, SendAlert_TwoCallsForOneFile_ShowTheWindowWithTwoRowsInCallOrder)
{
    struct Alert
    {
        std::string name, resource, last, current, path;
        int32_t idx;
    };
    const Alert alerts[] = {
        { "it's.txt", "<data>", "0A1B", "FFEE", "Disk:home:me:it's.txt", 42 },
        { "it's.txt", "<data>", "FFEE", "", "Disk:home:me:it's.txt", 42 },
    };
    auto w = MakeWindow<winAlert>();
    for (const Alert &a : alerts)
        w->SendAlert(a.name, a.resource, a.last, a.current, a.path, a.idx);

    EXPECT_TRUE(w->Visible());
    const Listbox &list = *w->AlertList;
    ASSERT_EQ(list.ListCount(), 2);
    for (int row = 0; row < 2; ++row) {
        SCOPED_TRACE(row);
        const Alert &a = alerts[row];
        EXPECT_EQ((std::array { list.Cell(row, 0), list.Cell(row, 1), list.Cell(row, 2),
                      list.Cell(row, 3), list.Cell(row, 4) }),
            (std::array { a.name, a.path, a.resource, a.last, a.current }));
        EXPECT_EQ(list.CellTag(row, 0).GetKind(), Variant::Kind::Text);
        EXPECT_EQ(list.CellTag(row, 0).As<std::string>(), a.path);
        EXPECT_EQ(list.CellTag(row, 1).GetKind(), Variant::Kind::Integer);
        EXPECT_EQ(list.CellTag(row, 1).As<int32_t>(), a.idx);
        EXPECT_TRUE(list.CellTag(row, 2).IsNil());
        EXPECT_TRUE(list.RowTag(row).IsNil());
        EXPECT_FALSE(list.RowPicture(row));
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(WinAlertTest, SendAlert_EmptyTexts_AddsARowTaggedWithAnEmptyPathAndTheIdx)
{
    auto w = MakeWindow<winAlert>();
    w->SendAlert("", "", "", "", "", 0);
    const Listbox &list = *w->AlertList;
    ASSERT_EQ(list.ListCount(), 1);
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(list.Cell(0, c), "") << c;
    EXPECT_EQ(list.CellTag(0, 0).GetKind(), Variant::Kind::Text);
    EXPECT_EQ(list.CellTag(0, 0).As<std::string>(), "");
    EXPECT_EQ(list.CellTag(0, 1).GetKind(), Variant::Kind::Integer);
    EXPECT_EQ(list.CellTag(0, 1).As<int32_t>(), 0);
}

TEST_F(WinAlertTest, Resize_ByTheUser_ExemptButtonCentredOnEveryStepAndAtTheEnd)
{
    auto w = MakeWindow<WarningsProbe>();
    SendShortAlert(*w);
    // Wider first, so that going back to 531 shows the button moved, not merely left in place.
    for (const auto &[width, left] : { std::pair { 700, 269 }, std::pair { 531, 184 } }) {
        SCOPED_TRACE(width);
        w->seen.clear();
        DragFrameTo(*w, width, 300);
        ASSERT_TRUE(ProcessEventsUntil(
            [&] { return !w->seen.empty() && w->seen.back().event == "resized"; }, kWaitMs));
        EXPECT_EQ(w->seen.front().event, "resizing");
        for (const auto &s : w->seen) {
            SCOPED_TRACE(s.event);
            EXPECT_EQ(s.width, width);
            EXPECT_EQ(s.exemptLeft, left);
        }
        EXPECT_EQ(w->btnExempt->Left(), left);
        // The others follow their locks.
        EXPECT_EQ(w->AlertList->Width(), width - 20);
        EXPECT_EQ(w->btnExport->Left(), width - 172);
        EXPECT_EQ(w->btnAccept->Left(), 10);
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(WinAlertTest, CellBackgroundPaint_OneRow_WhiteRowThenStripesBelowWithGreyEdges)
{
    auto w = MakeWindow<winAlert>();
    SendShortAlert(*w);
    WaitForRows(*w, 1);
    // The keyboard focus lies elsewhere, so that the toolkit's focus frame is not drawn over the
    // row.
    w->btnExport->SetFocus();
    const ListShot shot(*w->AlertList);
    const int h = shot.RowHeight();
    const Color white = RGB(255, 255, 255);
    const Color blue = RGB(237, 243, 254);
    const Color grey = RGB(230, 230, 230);
    for (int column = 0; column < 5; ++column) {
        SCOPED_TRACE(column);
        const int cw = shot.CellWidth(column);
        // Inside each cell, clear of its short text: the row's own colour.
        EXPECT_EQ(shot.CellPixel(0, column, cw - 5, h / 2), white);
        EXPECT_EQ(shot.CellPixel(1, column, cw - 5, h / 2), blue);
        EXPECT_EQ(shot.CellPixel(2, column, cw - 5, h / 2), white);
        EXPECT_EQ(shot.CellPixel(3, column, cw - 5, h / 2), blue);
        // The right and bottom edges of the empty positions, and the right edge of the row
        // between its columns.
        EXPECT_EQ(shot.CellPixel(1, column, cw - 1, h / 2), grey);
        EXPECT_EQ(shot.CellPixel(1, column, cw / 2, h - 1), grey);
        EXPECT_EQ(shot.CellPixel(2, column, cw / 2, h - 1), grey);
        if (column < 4) {
            EXPECT_EQ(shot.CellPixel(0, column, cw - 1, h / 2), grey);
        }
    }
    EXPECT_TRUE(reports.empty());
}

TEST_F(WinAlertTest, Change_SelectingThenClearingTheOnlyRow_EnablesThenDisablesBothButtons)
{
    auto w = MakeWindow<winAlert>();
    SendShortAlert(*w);
    WaitForRows(*w, 1);

    ClickCell(*w->AlertList, 0, 0);
    ASSERT_TRUE(ProcessEventsUntil([&] { return w->AlertList->SelCount() == 1; }, kWaitMs));
    EXPECT_TRUE(w->btnAccept->Enabled());
    EXPECT_TRUE(w->btnExempt->Enabled());
    EXPECT_TRUE(w->btnExport->Enabled());

    ClickCell(*w->AlertList, 0, 0, /*control=*/true);
    ASSERT_TRUE(ProcessEventsUntil([&] { return w->AlertList->SelCount() == 0; }, kWaitMs));
    EXPECT_FALSE(w->btnAccept->Enabled());
    EXPECT_FALSE(w->btnExempt->Enabled());
    EXPECT_TRUE(w->btnExport->Enabled());
    EXPECT_TRUE(reports.empty());
}

TEST_F(WinAlertTest, CatchAlls_Faults_ReportedWithTheirTagsAndNothingEscapes)
{
    struct Case
    {
        const char *what;
        std::function<void(WarningsProbe &)> act;
        Reported expected;
    };
    // A closed window's controls raise on every use; the painter's surface can fail by itself.
    const Case cases[] = {
        { "SendAlert", [](WarningsProbe &w) { w.SendAlert("a", "r", "L", "C", "p", 1); },
            { "NilObjectException", "winAlert.Methods.SendAlert" } },
        { "Change", [](WarningsProbe &w) { w.AlertList_Change(); },
            { "NilObjectException", "winAlert.Controls.lstFiles.Change" } },
        { "Open", [](WarningsProbe &w) { w.Event_Open(); },
            { "NilObjectException", "winAlert.Events.Open" } },
        { "HandleResize", [](WarningsProbe &w) { w.HandleResize(); },
            { "NilObjectException", "winAlert.Methods.HandleResize" } },
        // The resize events do nothing but HandleResize, whose own handler reports the fault.
        { "Resized", [](WarningsProbe &w) { w.Event_Resized(); },
            { "NilObjectException", "winAlert.Methods.HandleResize" } },
        { "Resizing", [](WarningsProbe &w) { w.Event_Resizing(); },
            { "NilObjectException", "winAlert.Methods.HandleResize" } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        reports.clear();
        auto w = MakeWindow<WarningsProbe>();
        w->Close();
        EXPECT_NO_THROW(c.act(*w));
        EXPECT_EQ(reports, std::vector<Reported>(1, c.expected));
    }

    reports.clear();
    auto w = MakeWindow<winAlert>();
    FailingGraphics g;
    bool answer = true;
    EXPECT_NO_THROW(answer = w->AlertList_CellBackgroundPaint(g, 0, 0));
    EXPECT_FALSE(answer);
    const std::vector<Reported> expected
        = { { "OutOfBoundsException", "winAlert.Controls.lstFiles.CellBackgroundPaint" } };
    EXPECT_EQ(reports, expected);
}
