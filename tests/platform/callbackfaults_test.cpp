#include "platform/application.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"
#include "platform/listbox.h"
#include "platform/window.h"
#include "tests/support/scripteddialogs.h"

#include <QCoreApplication>
#include <QTreeView>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace platform;

namespace {

constexpr int kWaitMs = 5000;

class CallbackFaultTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dialogs = std::make_shared<ScriptedDialogs>();
        SetDialogProvider(dialogs);
        window = MakeWindow<Window>();
        list = New<Listbox>();
        window->AddControl("lstFiles", list);
        list->SetBounds(10, 10, 380, 280);
        list->SetColumnCount(2);
        view = static_cast<QTreeView *>(list->NativeHandle());
        list->AddRow(std::vector<std::string> { "only", "row" });
        ASSERT_TRUE(ProcessEventsUntil([&] { return view->model()->rowCount() == 1; }, kWaitMs));
    }
    void TearDown() override
    {
        CloseAllWindows();
        SetDialogProvider(nullptr);
    }

    /// Repaints the list at once, inside this call, as an expose does.
    void RepaintNow() { view->viewport()->grab(); }

    /// Turns the event loop until a call posted now has run: whatever was due by then has come.
    static bool Settle()
    {
        bool reached = false;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [&] { reached = true; }, Qt::QueuedConnection);
        return ProcessEventsUntil([&] { return reached; }, kWaitMs);
    }

    std::shared_ptr<ScriptedDialogs> dialogs;
    Ref<Window> window;
    Ref<Listbox> list;
    QTreeView *view = nullptr;
};

} // namespace

TEST_F(CallbackFaultTest, PainterRaises_NoBoxInsideThePaint_OneBoxPerClassAfterIt)
{
    struct Case
    {
        const char *painter;
        std::function<void(int row, int column)> paint;
        std::vector<std::string> boxes;
    };
    const auto pastTheEnd = [this](int row, int column) {
        if (row >= list->ListCount())
            (void)list->Cell(row, column); // OutOfBoundsException, on every such cell
    };
    const Case cases[] = {
        { "the same fault on every cell past the last row", pastTheEnd,
            { "An exception of class OutOfBoundsException was not handled." } },
        { "two kinds of fault",
            [&](int row, int column) {
                if (row == 0)
                    throw NilObjectException("no picture for the row");
                pastTheEnd(row, column);
            },
            { "An exception of class NilObjectException was not handled.",
                "An exception of class OutOfBoundsException was not handled." } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.painter);
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(round == 0 ? "first repaint" : "repaint after the boxes were answered");
            dialogs->shown.clear();
            int faults = 0;
            std::size_t boxesDuringPaint = 0;
            list->CellBackgroundPaint = [&](Graphics &, int row, int column) {
                boxesDuringPaint += dialogs->shown.size();
                ++faults;
                c.paint(row, column);
                --faults;
                return false;
            };
            RepaintNow();
            list->CellBackgroundPaint = nullptr;

            EXPECT_GT(faults, 2); // the fault came back cell after cell
            EXPECT_EQ(boxesDuringPaint, 0u);
            EXPECT_TRUE(dialogs->shown.empty());
            ASSERT_TRUE(ProcessEventsUntil([&] { return !dialogs->shown.empty(); }, kWaitMs));
            ASSERT_TRUE(Settle());
            EXPECT_EQ(dialogs->Messages(), c.boxes);
        }
    }
}
