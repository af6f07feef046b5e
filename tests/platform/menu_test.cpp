#include "platform/menu.h"

#include "platform/application.h"
#include "platform/clipboard.h"
#include "platform/controls.h"
#include "platform/exceptions.h"
#include "platform/window.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

using namespace platform;

namespace {

constexpr int kWaitMs = 5000;

QAction *ActionOf(const MenuItem &item) { return static_cast<QAction *>(item.NativeHandle()); }

Ref<MenuItem> Item(
    const std::string &name, const std::string &text, const std::string &shortcut, bool autoEnable)
{
    auto item = New<MenuItem>();
    item->SetName(name);
    item->SetAutoEnable(autoEnable);
    item->SetText(text);
    if (text != "-")
        item->SetKeyboardShortcut(shortcut);
    return item;
}

/// A bar like the program's: File and Edit, with a few items of our own in File.
Ref<MenuBar> TestBar()
{
    auto bar = New<MenuBar>();
    auto file = Item("UntitledMenu2", "File", "", false);
    bar->Append(file);
    auto edit = Item("UntitledMenu0", "Edit", "", false);
    bar->Append(edit);
    bar->Child("UntitledMenu2")->Append(Item("FileOpenFolder", "Open Folder", "Cmd+O", true));
    bar->Child("UntitledMenu2")->Append(Item("Mine", "Mine", "", false));
    bar->Child("UntitledMenu2")->Append(Item("Theirs", "Theirs", "", false));
    bar->Child("UntitledMenu2")->Append(Item("Nobodys", "Nobody's", "", false));
    auto quit = New<QuitMenuItem>();
    quit->SetName("FileQuit");
    quit->SetAutoEnable(true);
    quit->SetText("Quit");
    quit->SetKeyboardShortcut("Cmd+Q");
    bar->Child("UntitledMenu2")->Append(quit);
    for (const auto &[name, text, shortcut] :
        std::vector<std::tuple<std::string, std::string, std::string>> {
            { "EditUndo", "Undo", "Cmd+Z" }, { "UntitledMenu1", "-", "" },
            { "EditCut", "Cut", "Cmd+X" }, { "EditCopy", "Copy", "Cmd+C" },
            { "EditPaste", "Paste", "Cmd+V" }, { "EditClear", "Clear", "" } })
        bar->Child("UntitledMenu0")->Append(Item(name, text, shortcut, false));
    return bar;
}

class MenuWindow : public Window
{
public:
    MenuWindow(Ref<MenuBar> bar, std::map<std::string, std::function<bool()>> handlers)
        : m_bar(std::move(bar))
        , m_handlers(std::move(handlers))
    {
    }
    Ref<EditField> field;
    std::vector<std::string> events;

protected:
    void Layout() override
    {
        if (m_bar)
            SetMenuBar(m_bar);
        SetSize(300, 200);
    }
    void CreateControls() override
    {
        field = New<EditField>();
        AddControl("txtLog", field);
        field->SetBounds(10, 10, 280, 150);
    }
    void AddMenuHandlers() override
    {
        for (const auto &[name, handler] : m_handlers)
            AddMenuHandler(name, handler);
    }
    void Event_Open() override
    {
        if (onOpen)
            onOpen();
    }
    void Event_Close() override { events.push_back("close"); }

public:
    std::function<void()> onOpen;

private:
    Ref<MenuBar> m_bar;
    std::map<std::string, std::function<bool()>> m_handlers;
};

class MenuTest : public ::testing::Test
{
protected:
    void TearDown() override { CloseAllWindows(); }
};

void MakeFront(const Ref<MenuWindow> &w)
{
    w->Show();
    ASSERT_TRUE(ProcessEventsUntil([&] { return FrontmostWindow().Raw() == w.Raw(); }, kWaitMs));
}

/// A window like the Message Log: floating, no menu bar, a text field, and an Edit > Copy
/// handler that declines.
Ref<MenuWindow> LogLikeWindow(std::map<std::string, std::function<bool()>> handlers)
{
    auto w = MakeWindow<MenuWindow>(nullptr, std::move(handlers));
    w->SetFrame(Window::Frame::Floating);
    return w;
}

/// Makes `w` the active window and presses `key` with Ctrl on it through the window system's
/// input queue, as the keyboard does.
void PressInWindow(const Ref<MenuWindow> &w, Qt::Key key)
{
    MakeFront(w);
    auto *top = static_cast<QWidget *>(w->NativeHandle());
    ASSERT_TRUE(ProcessEventsUntil([&] { return QApplication::activeWindow() == top; }, kWaitMs));
    QTest::keyClick(top->windowHandle(), key, Qt::ControlModifier);
}

} // namespace

TEST(MenuShortcut, CmdIsCtrl_ALoneKeyMeansCmd)
{
    const std::pair<const char *, const char *> cases[] = {
        { "Cmd+X", "Ctrl+X" },
        { "Cmd+O", "Ctrl+O" },
        { "cmd+q", "Ctrl+Q" },
        { "Shift+Cmd+S", "Ctrl+Shift+S" },
        { "Option+Cmd+P", "Ctrl+Alt+P" },
        { "O", "Ctrl+O" },
        { "Cmd++", "Ctrl++" },
        { "", "" },
        { "Ctrl+Z", "Ctrl+Z" },
    };
    for (const auto &[given, expected] : cases) {
        SCOPED_TRACE(given);
        EXPECT_EQ(NativeShortcutText(given), expected);
        auto item = New<MenuItem>("x");
        item->SetKeyboardShortcut(given);
        EXPECT_EQ(item->KeyboardShortcut(), given);
        EXPECT_EQ(ActionOf(*item)->shortcut(),
            QKeySequence(QString(expected), QKeySequence::PortableText));
    }
}

TEST(MenuItem, Settings_AndLookUpOfChildren)
{
    auto bar = TestBar();
    ASSERT_EQ(bar->Count(), 2);
    EXPECT_EQ(bar->Item(0)->Text(), "File");
    EXPECT_EQ(bar->Item(1)->Name(), "UntitledMenu0");
    EXPECT_THROW(bar->Item(2), OutOfBoundsException);
    EXPECT_THROW(bar->Item(-1), OutOfBoundsException);

    auto edit = bar->Child("UntitledMenu0");
    ASSERT_TRUE(edit);
    EXPECT_EQ(edit->Count(), 6);
    EXPECT_FALSE(bar->Child("EditCopy")); // only direct children
    EXPECT_FALSE(bar->Child("UntitledMenu3"));
    auto separator = edit->Child("UntitledMenu1");
    ASSERT_TRUE(separator);
    EXPECT_TRUE(separator->IsSeparator());
    EXPECT_TRUE(ActionOf(*separator)->isSeparator());
    EXPECT_EQ(separator->Parent(), edit.Raw());
    EXPECT_TRUE(bar->Child("UntitledMenu2")->Child("FileQuit").As<QuitMenuItem>());
    EXPECT_TRUE(bar->Child("UntitledMenu2")->Child("FileOpenFolder")->AutoEnable());
    EXPECT_THROW(edit->Append(separator), InvalidParentException);
}

TEST_F(MenuTest, Window_ShowsTheBarsMenusInOrder)
{
    auto w = MakeWindow<MenuWindow>(TestBar(), std::map<std::string, std::function<bool()>> {});
    auto *qbar = static_cast<QWidget *>(w->NativeHandle())->findChild<QMenuBar *>();
    ASSERT_NE(qbar, nullptr);
    QStringList titles;
    for (QAction *a : qbar->actions())
        titles << a->text();
    EXPECT_EQ(titles, QStringList({ "File", "Edit" }));
    QMenu *editMenu = qbar->actions().at(1)->menu();
    ASSERT_NE(editMenu, nullptr);
    QStringList items;
    for (QAction *a : editMenu->actions())
        items << (a->isSeparator() ? QString("-") : a->text());
    EXPECT_EQ(items, QStringList({ "Undo", "-", "Cut", "Copy", "Paste", "Clear" }));
}

TEST_F(MenuTest, Enabling_AutoEnableFrontWindowHandlersAndTextEditing)
{
    auto bar = TestBar();
    auto yes = [] { return true; };
    auto back = MakeWindow<MenuWindow>(
        nullptr, std::map<std::string, std::function<bool()>> { { "Theirs", yes } });
    auto front = MakeWindow<MenuWindow>(
        bar, std::map<std::string, std::function<bool()>> { { "Mine", yes } });
    MakeFront(front);
    auto file = bar->Child("UntitledMenu2");
    auto edit = bar->Child("UntitledMenu0");

    struct Case
    {
        const char *situation;
        std::function<void()> arrange;
        std::map<std::string, bool> expected;
    };
    const Case cases[] = {
        { "no text field has the focus", [&] { front->field->SetText(""); },
            { { "FileOpenFolder", true }, { "FileQuit", true }, { "Mine", true },
                { "Theirs", false }, { "Nobodys", false }, { "EditUndo", false },
                { "EditCut", false }, { "EditCopy", false }, { "EditClear", false } } },
        { "a text field with a selection has the focus",
            [&] {
                front->field->SetText("some text");
                front->field->SetFocus();
                front->field->SetSelStart(0);
                front->field->SetSelLength(4);
            },
            { { "Mine", true }, { "Theirs", false }, { "EditUndo", false }, { "EditCut", true },
                { "EditCopy", true }, { "EditClear", true } } },
        { "the text field has an edit to undo",
            [&] {
                front->field->SetSelStart(0);
                front->field->SetSelLength(0);
                front->field->SetSelText("more ");
            },
            { { "EditUndo", true }, { "EditCut", false }, { "EditCopy", false } } },
        { "the focused text field is read-only",
            [&] {
                front->field->SetSelStart(0);
                front->field->SetSelLength(4);
                front->field->SetReadOnly(true);
            },
            { { "EditUndo", false }, { "EditCut", false }, { "EditCopy", true },
                { "EditPaste", false }, { "EditClear", false } } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.situation);
        c.arrange();
        file->EnableMenuItems();
        edit->EnableMenuItems();
        for (const auto &[name, enabled] : c.expected) {
            SCOPED_TRACE(name);
            auto item = file->Child(name) ? file->Child(name) : edit->Child(name);
            ASSERT_TRUE(item);
            EXPECT_EQ(item->Enabled(), enabled);
        }
    }
    front->field->SetReadOnly(false);
    Clipboard().SetText("pasted");
    edit->EnableMenuItems();
    EXPECT_TRUE(edit->Child("EditPaste")->Enabled());
}

TEST_F(MenuTest, Enabling_MenuOpened_RuleApplied)
{
    auto bar = TestBar();
    auto w = MakeWindow<MenuWindow>(
        bar, std::map<std::string, std::function<bool()>> { { "Nobodys", [] { return true; } } });
    MakeFront(w);
    auto file = bar->Child("UntitledMenu2");
    file->Child("Mine")->SetEnabled(true);
    file->Child("Nobodys")->SetEnabled(false);
    QMenu *menu = ActionOf(*file)->menu();
    ASSERT_NE(menu, nullptr);
    menu->popup(QPoint(0, 0));
    EXPECT_FALSE(file->Child("Mine")->Enabled());
    EXPECT_TRUE(file->Child("Nobodys")->Enabled());
    menu->hide();
}

TEST_F(MenuTest, Choose_RunsTheFrontmostWindowsHandler)
{
    auto bar = TestBar();
    std::vector<std::string> ran;
    auto a = MakeWindow<MenuWindow>(
        bar, std::map<std::string, std::function<bool()>> { { "FileOpenFolder", [&] {
                                                                 ran.push_back("a");
                                                                 return false;
                                                             } } });
    auto b = MakeWindow<MenuWindow>(
        nullptr, std::map<std::string, std::function<bool()>> { { "FileOpenFolder", [&] {
                                                                     ran.push_back("b");
                                                                     return false;
                                                                 } } });
    auto item = bar->Child("UntitledMenu2")->Child("FileOpenFolder");
    MakeFront(b);
    ActionOf(*item)->trigger();
    MakeFront(a);
    ActionOf(*item)->trigger();
    const std::vector<std::string> expected = { "b", "a" };
    EXPECT_EQ(ran, expected);
}

TEST_F(MenuTest, EditCopy_HandlerDeclines_TheTextFieldCopies)
{
    for (bool declines : { true, false }) {
        SCOPED_TRACE(declines ? "declines" : "handles");
        auto bar = TestBar();
        int calls = 0;
        auto w = MakeWindow<MenuWindow>(
            bar, std::map<std::string, std::function<bool()>> { { "EditCopy", [&] {
                                                                     ++calls;
                                                                     return !declines;
                                                                 } } });
        MakeFront(w);
        Clipboard().SetText("before");
        w->field->SetText("2024-01-02 03:04:05: report");
        w->field->SetFocus();
        w->field->SetSelStart(21);
        w->field->SetSelLength(6);
        ActionOf(*bar->Child("UntitledMenu0")->Child("EditCopy"))->trigger();
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(Clipboard().Text(), declines ? "report" : "before");
        w->Close();
    }
}

TEST_F(MenuTest, EditClear_NoHandler_RemovesTheSelection)
{
    auto bar = TestBar();
    auto w = MakeWindow<MenuWindow>(bar, std::map<std::string, std::function<bool()>> {});
    MakeFront(w);
    w->field->SetText("keep this away");
    w->field->SetFocus();
    w->field->SetSelStart(4);
    w->field->SetSelLength(5);
    ActionOf(*bar->Child("UntitledMenu0")->Child("EditClear"))->trigger();
    EXPECT_EQ(w->field->Text(), "keep away");
}

TEST(QuitMenuItem, Chosen_ClosesTheWindowsThenQuitsWithZero)
{
    std::vector<std::string> order;
    static char arg0[] = "test";
    char *argv[] = { arg0, nullptr };
    Ref<MenuBar> bar;
    const int code = platform::Run(
        1, argv,
        [&] {
            bar = TestBar();
            auto w = MakeWindow<MenuWindow>(bar, std::map<std::string, std::function<bool()>> {});
            std::weak_ptr<MenuWindow> weak = w.Shared();
            w->onOpen = [&, weak] {
                ActionOf(*bar->Child("UntitledMenu2")->Child("FileQuit"))->trigger();
                if (auto self = weak.lock())
                    order.insert(order.end(), self->events.begin(), self->events.end());
                order.push_back(QuitRequested() ? "quit requested" : "not quitting");
            };
        },
        [&] { order.push_back("finalize"); });
    EXPECT_EQ(code, 0);
    const std::vector<std::string> expected = { "close", "quit requested", "finalize" };
    EXPECT_EQ(order, expected);
}

TEST_F(MenuTest, Shortcut_PressedInTheWindow_RunsTheHandler)
{
    auto bar = TestBar();
    int opened = 0;
    auto w = MakeWindow<MenuWindow>(
        bar, std::map<std::string, std::function<bool()>> { { "FileOpenFolder", [&] {
                                                                 ++opened;
                                                                 return false;
                                                             } } });
    MakeFront(w);
    auto *top = static_cast<QWidget *>(w->NativeHandle());
    ASSERT_TRUE(ProcessEventsUntil([&] { return QApplication::activeWindow() == top; }, kWaitMs));
    QTest::keyClick(top, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(opened, 1);
}

TEST_F(MenuTest, Choose_ItemTheRuleDisables_DoesNothing)
{
    auto bar = TestBar();
    int calls = 0;
    auto back = MakeWindow<MenuWindow>(
        nullptr, std::map<std::string, std::function<bool()>> { { "Theirs", [&] {
                                                                     ++calls;
                                                                     return true;
                                                                 } } });
    auto front = MakeWindow<MenuWindow>(bar, std::map<std::string, std::function<bool()>> {});
    MakeFront(front);
    bar->Child("UntitledMenu2")->Child("Theirs")->Choose();
    EXPECT_EQ(calls, 0);
    MakeFront(back);
    bar->Child("UntitledMenu2")->Child("Theirs")->Choose();
    EXPECT_EQ(calls, 1);
}

TEST_F(MenuTest, Shortcut_WindowWithoutTheBarInFront_RunsThatWindowsHandler)
{
    auto bar = TestBar();
    std::vector<std::string> ran;
    auto main = MakeWindow<MenuWindow>(
        bar, std::map<std::string, std::function<bool()>> { { "FileOpenFolder", [&] {
                                                                 ran.push_back("main");
                                                                 return true;
                                                             } } });
    auto log = LogLikeWindow({ { "FileOpenFolder", [&] {
                                    ran.push_back("log");
                                    return true;
                                } } });
    PressInWindow(log, Qt::Key_O);
    PressInWindow(main, Qt::Key_O);
    const std::vector<std::string> expected = { "log", "main" };
    EXPECT_EQ(ran, expected);
}

TEST_F(MenuTest, EditCopy_LogLikeWindowInFront_ItsHandlerDeclinesAndItsFieldCopies)
{
    auto bar = TestBar();
    int mainCalls = 0;
    int logCalls = 0;
    auto main = MakeWindow<MenuWindow>(
        bar, std::map<std::string, std::function<bool()>> { { "EditCopy", [&] {
                                                                 ++mainCalls;
                                                                 return true;
                                                             } } });
    auto log = LogLikeWindow({ { "EditCopy", [&] {
                                    ++logCalls;
                                    return false;
                                } } });
    MakeFront(log);
    Clipboard().SetText("before");
    log->field->SetText("2024-01-02 03:04:05: report");
    log->field->SetFocus();
    log->field->SetSelStart(21);
    log->field->SetSelLength(6);
    auto copy = bar->Child("UntitledMenu0")->Child("EditCopy");
    EXPECT_TRUE(copy->EnabledByRule());
    ActionOf(*copy)->trigger();
    EXPECT_EQ(logCalls, 1);
    EXPECT_EQ(mainCalls, 0);
    EXPECT_EQ(Clipboard().Text(), "report");
}

TEST(QuitMenuItem, CtrlQ_WindowWithoutTheBarInFront_ClosesTheWindowsThenQuits)
{
    std::vector<std::string> order;
    static char arg0[] = "test";
    char *argv[] = { arg0, nullptr };
    Ref<MenuBar> bar;
    Ref<MenuWindow> main;
    Ref<MenuWindow> log;
    // Only a run that the shortcut failed to end meets this; it ends it with 99.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { Quit(99); });
    guard.start(10000);
    const int code = platform::Run(
        1, argv,
        [&] {
            bar = TestBar();
            main = MakeWindow<MenuWindow>(bar, std::map<std::string, std::function<bool()>> {});
            log = LogLikeWindow({});
            log->onOpen = [&] {
                PressInWindow(log, Qt::Key_Q);
                order.insert(order.end(), main->events.begin(), main->events.end());
                order.insert(order.end(), log->events.begin(), log->events.end());
                order.push_back(QuitRequested() ? "quit requested" : "not quitting");
            };
        },
        [&] { order.push_back("finalize"); });
    EXPECT_EQ(code, 0);
    const std::vector<std::string> expected = { "close", "close", "quit requested", "finalize" };
    EXPECT_EQ(order, expected);
}
