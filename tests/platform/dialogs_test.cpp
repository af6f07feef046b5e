#include "platform/dialogs.h"

#include "platform/application.h"
#include "platform/controls.h"
#include "platform/menu.h"
#include "platform/testsupport.h"
#include "platform/thread.h"
#include "platform/window.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace platform;

namespace {

constexpr int kWaitMs = 5000;

/// A window with one push button that counts its presses, a menu item with a shortcut that
/// counts its choices, and a record of its Close event.
class ButtonWindow : public Window
{
public:
    Ref<PushButton> button;
    int presses = 0;
    int chosen = 0;
    bool closeEventRan = false;

protected:
    void Layout() override
    {
        auto bar = New<MenuBar>();
        auto file = New<MenuItem>("File");
        bar->Append(file);
        auto open = New<MenuItem>("Open Folder");
        open->SetName("FileOpenFolder");
        open->SetKeyboardShortcut("Cmd+O");
        file->Append(open);
        SetMenuBar(bar);
        SetTitle("Behind the box");
        SetSize(300, 200);
    }
    void AddMenuHandlers() override
    {
        AddMenuHandler("FileOpenFolder", [this] {
            ++chosen;
            return true;
        });
    }
    void CreateControls() override
    {
        button = New<PushButton>();
        AddControl("pbMBS", button);
        button->SetBounds(20, 20, 200, 24);
        button->SetCaption("Load Directory to Scan");
        button->Action = [this] { ++presses; };
    }
    void Event_Close() override { closeEventRan = true; }
};

QWindow *NativeWindowOf(const Window &w)
{
    return static_cast<QWidget *>(w.NativeHandle())->windowHandle();
}

/// A left click in the middle of `button`, given to the window system's input queue as a real
/// click is, so that modal blocking applies to it (QTest's widget overload would bypass it).
void ClickAsTheUser(const ButtonWindow &w)
{
    auto *widget = static_cast<QWidget *>(w.button->NativeHandle());
    QWindow *window = NativeWindowOf(w);
    const QPoint at = window->mapFromGlobal(widget->mapToGlobal(widget->rect().center()));
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, at);
}

/// Asks the window to close as the window manager's close box does.
void CloseAsTheUser(const ButtonWindow &w)
{
    QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(
        NativeWindowOf(w));
    QCoreApplication::processEvents();
}

QMessageBox *VisibleBox(const std::string &text)
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (box && box->isVisible() && box->text() == QString::fromStdString(text))
            return box;
    }
    return nullptr;
}

class WorkerDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Scheduler::DestroyAll();
        SetDialogProvider(nullptr); // Qt's own dialogs
    }
    void TearDown() override
    {
        CloseAllWindows();
        Scheduler::DestroyAll();
        SetDialogProvider(nullptr);
    }
};

} // namespace

TEST_F(WorkerDialogTest, MsgBox_FromAThread_BlocksClicksShortcutsAndCloseRequestsOfOtherWindows)
{
    auto w = MakeWindow<ButtonWindow>();
    ASSERT_TRUE(ProcessEventsUntil([&] { return NativeWindowOf(*w)->isExposed(); }, kWaitMs));
    // The click reaches the button while nothing is modal: the way of clicking works.
    ClickAsTheUser(*w);
    ASSERT_TRUE(ProcessEventsUntil([&] { return w->presses == 1; }, kWaitMs));

    bool answered = false;
    int otherTurns = 0;
    auto asker = std::make_shared<platform::testing::LambdaThread>([&] {
        MsgBox("Database Error");
        answered = true;
    });
    auto other = std::make_shared<platform::testing::LambdaThread>([&] {
        while (!answered) {
            ++otherTurns;
            Yield();
        }
    });
    asker->Run();
    other->Run();
    ASSERT_TRUE(
        ProcessEventsUntil([] { return VisibleBox("Database Error") != nullptr; }, kWaitMs));
    QMessageBox *box = VisibleBox("Database Error");
    EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);

    ClickAsTheUser(*w);
    // The keyboard's input goes to the box, which has the focus; the menu's shortcuts are blocked.
    QTest::keyClick(box->windowHandle(), Qt::Key_O, Qt::ControlModifier);
    CloseAsTheUser(*w);
    // Whatever the click and the close request set off has run once the other thread has had
    // a few more turns.
    const int turns = otherTurns;
    ASSERT_TRUE(ProcessEventsUntil([&] { return otherTurns > turns + 5; }, kWaitMs));
    EXPECT_EQ(w->presses, 1);
    EXPECT_EQ(w->chosen, 0);
    EXPECT_FALSE(w->IsClosed());
    EXPECT_FALSE(w->closeEventRan);
    EXPECT_EQ(asker->GetState(), Thread::State::Suspended);

    box->button(QMessageBox::Ok)->click();
    ASSERT_TRUE(ProcessEventsUntil([&] { return answered; }, kWaitMs));
    ClickAsTheUser(*w);
    ASSERT_TRUE(ProcessEventsUntil([&] { return w->presses == 2; }, kWaitMs));
    w->Show(); // back in front, as the window manager brings it when the box goes
    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return QApplication::activeWindow() == w->NativeHandle(); }, kWaitMs));
    QTest::keyClick(NativeWindowOf(*w), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(w->chosen, 1);
    CloseAsTheUser(*w);
    EXPECT_TRUE(w->IsClosed());
    EXPECT_TRUE(w->closeEventRan);
    ASSERT_TRUE(ProcessEventsUntil([] { return Scheduler::LiveCount() == 0; }, kWaitMs));
}
