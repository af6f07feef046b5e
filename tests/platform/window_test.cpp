#include "platform/window.h"

#include "platform/application.h"
#include "platform/clipboard.h"
#include "platform/controls.h"
#include "platform/dialogs.h"
#include "platform/dragitem.h"
#include "platform/exceptions.h"
#include "platform/menu.h"
#include "platform/thread.h"
#include "platform/window_p.h"
#include "tests/support/scripteddialogs.h"
#include "tests/support/testsupport.h"
#include "tests/support/widgetprobes.h"

#include <QApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using namespace platform;
using platform::testing::DragFrameTo;

namespace {

constexpr int kWaitMs = 5000;

QWidget *WidgetOf(const Control &c) { return static_cast<QWidget *>(c.NativeHandle()); }

detail::WindowWidget *WidgetOf(const Window &w)
{
    return static_cast<detail::WindowWidget *>(w.NativeHandle());
}

QWidget *ContentOf(const Window &w) { return WidgetOf(w)->Content(); }

/// A window built through the hooks with the parts a test gives it.
class TestWindow : public Window
{
public:
    using Part = std::function<void(TestWindow &)>;
    TestWindow(Part controls, Part layout)
        : m_controls(std::move(controls))
        , m_layout(std::move(layout))
    {
    }

    std::vector<std::string> events;

protected:
    void Layout() override
    {
        SetTitle("Test");
        SetSize(400, 300);
        SetMinimumSize(400, 300);
        if (m_layout)
            m_layout(*this);
    }
    void CreateControls() override
    {
        if (m_controls)
            m_controls(*this);
    }
    void Event_Open() override { events.push_back("window open"); }
    void Event_Close() override { events.push_back("window close"); }
    void Event_Resized() override { events.push_back("resized"); }
    void Event_Resizing() override { events.push_back("resizing"); }

private:
    Part m_controls;
    Part m_layout;
};

Ref<TestWindow> MakeTestWindow(TestWindow::Part controls, TestWindow::Part layout = nullptr)
{
    return MakeWindow<TestWindow>(std::move(controls), std::move(layout));
}

Ref<MenuBar> SmallMenuBar()
{
    auto bar = New<MenuBar>();
    auto file = New<MenuItem>("File");
    file->SetName("FileMenu");
    bar->Append(file);
    auto quit = New<QuitMenuItem>("Quit");
    quit->SetName("FileQuit");
    file->Append(quit);
    return bar;
}

bool ContentIs(const Window &w, int width, int height)
{
    return ContentOf(w)->size() == QSize(width, height);
}

/// Every size a widget is given while this lives, in order.
class SizeLog : public QObject
{
public:
    explicit SizeLog(QWidget *widget)
        : m_widget(widget)
    {
        m_widget->installEventFilter(this);
    }
    ~SizeLog() override { m_widget->removeEventFilter(this); }
    std::vector<QSize> sizes;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Resize)
            sizes.push_back(static_cast<QResizeEvent *>(event)->size());
        return false;
    }

private:
    QWidget *m_widget;
};

class WindowTest : public ::testing::Test
{
protected:
    void TearDown() override { CloseAllWindows(); }
};

struct LockCase
{
    const char *name;
    bool left, top, right, bottom;
    QRect grown; // after the content grows by 200 × 100 from the design rect (40, 30, 100, 50)
};

const LockCase kLockCases[] = {
    { "none", false, false, false, false, QRect(40, 30, 100, 50) },
    { "left", true, false, false, false, QRect(40, 30, 100, 50) },
    { "top", false, true, false, false, QRect(40, 30, 100, 50) },
    { "right", false, false, true, false, QRect(240, 30, 100, 50) },
    { "bottom", false, false, false, true, QRect(40, 130, 100, 50) },
    { "left right", true, false, true, false, QRect(40, 30, 300, 50) },
    { "top bottom", false, true, false, true, QRect(40, 30, 100, 150) },
    { "left top", true, true, false, false, QRect(40, 30, 100, 50) },
    { "right bottom", false, false, true, true, QRect(240, 130, 100, 50) },
    { "left bottom", true, false, false, true, QRect(40, 130, 100, 50) },
    { "top right", false, true, true, false, QRect(240, 30, 100, 50) },
    { "left top right", true, true, true, false, QRect(40, 30, 300, 50) },
    { "left right bottom", true, false, true, true, QRect(40, 130, 300, 50) },
    { "top right bottom", false, true, true, true, QRect(240, 30, 100, 150) },
    { "left top bottom", true, true, false, true, QRect(40, 30, 100, 150) },
    { "all four", true, true, true, true, QRect(40, 30, 300, 150) },
};

Ref<TestWindow> LockWindow(bool withMenuBar)
{
    return MakeTestWindow(
        [](TestWindow &w) {
            for (const LockCase &c : kLockCases) {
                auto label = New<StaticText>();
                w.AddControl(c.name, label);
                label->SetBounds(40, 30, 100, 50);
                label->SetLocks(c.left, c.top, c.right, c.bottom);
            }
        },
        [withMenuBar](TestWindow &w) {
            if (withMenuBar)
                w.SetMenuBar(SmallMenuBar());
        });
}

void ExpectLocksFollowed(const Window &w, bool grown)
{
    for (const LockCase &c : kLockCases) {
        SCOPED_TRACE(c.name);
        const QRect expected = grown ? c.grown : QRect(40, 30, 100, 50);
        auto control = w.FindControl(c.name);
        ASSERT_TRUE(control);
        EXPECT_EQ(
            QRect(control->Left(), control->Top(), control->Width(), control->Height()), expected);
        EXPECT_EQ(WidgetOf(*control)->geometry(), expected);
    }
}

} // namespace

TEST_F(WindowTest, Locks_WindowGrowsByTheUsersFrame_EachControlFollowsItsLocks)
{
    for (bool withMenuBar : { false, true }) {
        SCOPED_TRACE(withMenuBar ? "with a menu bar" : "without a menu bar");
        auto w = LockWindow(withMenuBar);
        ASSERT_TRUE(ProcessEventsUntil([&] { return ContentIs(*w, 400, 300); }, kWaitMs));
        ExpectLocksFollowed(*w, false);

        DragFrameTo(*w, 600, 400);
        ASSERT_TRUE(ProcessEventsUntil([&] { return ContentIs(*w, 600, 400); }, kWaitMs));
        EXPECT_EQ(w->Width(), 600);
        EXPECT_EQ(w->Height(), 400);
        ExpectLocksFollowed(*w, true);

        DragFrameTo(*w, 400, 300);
        ASSERT_TRUE(ProcessEventsUntil([&] { return ContentIs(*w, 400, 300); }, kWaitMs));
        ExpectLocksFollowed(*w, false);
        w->Close();
    }
}

TEST_F(WindowTest, Locks_SetSize_AppliesTheLocksAtOnce)
{
    auto w = LockWindow(true);
    w->SetSize(600, 400);
    ExpectLocksFollowed(*w, true);
    ASSERT_TRUE(ProcessEventsUntil([&] { return ContentIs(*w, 600, 400); }, kWaitMs));
    ExpectLocksFollowed(*w, true);
}

TEST_F(WindowTest, MinimumSize_FrameDraggedSmaller_ContentKeepsTheMinimum)
{
    auto w = LockWindow(true);
    ASSERT_TRUE(ProcessEventsUntil([&] { return ContentIs(*w, 400, 300); }, kWaitMs));
    SizeLog content(ContentOf(*w));
    DragFrameTo(*w, 100, 80);
    EXPECT_EQ(ContentOf(*w)->size(), QSize(400, 300));
    EXPECT_EQ(w->Width(), 400);
    EXPECT_EQ(w->Height(), 300);
    // What the window system makes of a drag arrives in order: once a later drag's size has
    // arrived, so has anything the first one set off. The content never went below its minimum.
    DragFrameTo(*w, 420, 310);
    ASSERT_TRUE(ProcessEventsUntil([&] { return ContentIs(*w, 420, 310); }, kWaitMs));
    EXPECT_EQ(content.sizes, std::vector<QSize> { QSize(420, 310) });
    EXPECT_EQ(w->MinWidth(), 400);
    EXPECT_EQ(w->MinHeight(), 300);
    EXPECT_EQ(w->MaxWidth(), 32000);
    EXPECT_EQ(w->MaxHeight(), 32000);

    w->SetSize(10, 10);
    EXPECT_EQ(w->Width(), 400);
    EXPECT_EQ(w->Height(), 300);
    ExpectLocksFollowed(*w, false);
}

TEST_F(WindowTest, MenuBar_SitsAboveTheContent_WindowGrowsByItsHeight)
{
    auto w = LockWindow(true);
    ASSERT_TRUE(ProcessEventsUntil([&] { return ContentIs(*w, 400, 300); }, kWaitMs));
    auto *bar = WidgetOf(*w)->findChild<QMenuBar *>();
    ASSERT_NE(bar, nullptr);
    EXPECT_GT(bar->height(), 0);
    EXPECT_EQ(ContentOf(*w)->y(), bar->height());
    EXPECT_EQ(WidgetOf(*w)->height(), 300 + bar->height());
    EXPECT_EQ(WidgetOf(*w)->minimumHeight(), 300 + bar->height());
    // Controls keep their design coordinates below the bar.
    auto label = w->FindControl("none");
    EXPECT_EQ(WidgetOf(*label)->mapTo(WidgetOf(*w), QPoint(0, 0)), QPoint(40, 30 + bar->height()));
}

TEST_F(WindowTest, GroupBox_GroupMovesWithItsLocks_ChildrenMoveWithIt)
{
    Ref<GroupBox> group;
    Ref<StaticText> child;
    auto w = MakeTestWindow([&](TestWindow &win) {
        group = New<GroupBox>();
        win.AddControl("GroupBox1", group);
        group->SetBounds(20, 100, 200, 150);
        group->SetLocks(true, false, false, true);
        group->SetCaption("File Details");
        child = New<StaticText>();
        win.AddControl("FileName", child, group);
        child->SetBounds(31, 128, 180, 20);
    });
    EXPECT_EQ(WidgetOf(*child)->parentWidget(), WidgetOf(*group));
    EXPECT_EQ(WidgetOf(*child)->geometry(), QRect(11, 28, 180, 20));
    EXPECT_EQ(child->Parent(), group.Raw());

    w->SetSize(600, 400);
    EXPECT_EQ(QRect(group->Left(), group->Top(), group->Width(), group->Height()),
        QRect(20, 200, 200, 150));
    EXPECT_EQ(QRect(child->Left(), child->Top(), child->Width(), child->Height()),
        QRect(31, 228, 180, 20));
    EXPECT_EQ(static_cast<QGroupBox *>(WidgetOf(*group))->title(), QString("File Details"));
}

TEST_F(WindowTest, ResizeEvents_WindowGrows_ResizingThenOneResized)
{
    auto w = LockWindow(false);
    ASSERT_TRUE(ProcessEventsUntil([&] { return ContentIs(*w, 400, 300); }, kWaitMs));
    w->events.clear();
    DragFrameTo(*w, 500, 350);
    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return std::count(w->events.begin(), w->events.end(), "resized") == 1; }, kWaitMs));
    ASSERT_GE(w->events.size(), 2u);
    EXPECT_EQ(w->events.front(), "resizing");
    EXPECT_EQ(w->events.back(), "resized");
}

TEST_F(WindowTest, OpenEvents_ControlsOpenBeforeTheWindow)
{
    std::vector<std::string> *log = nullptr;
    auto w = MakeTestWindow([&](TestWindow &win) {
        log = &win.events;
        for (const char *name : { "a", "b" }) {
            auto button = New<PushButton>();
            win.AddControl(name, button);
            button->Open = [&win, name] { win.events.push_back(std::string(name) + " open"); };
        }
    });
    const std::vector<std::string> expected = { "a open", "b open", "window open" };
    EXPECT_EQ(w->events, expected);
}

TEST_F(WindowTest, ControlByName_PresentAbsentOrOtherKind)
{
    auto w = MakeTestWindow([](TestWindow &win) {
        win.AddControl("StaticText1", New<StaticText>());
        win.AddControl("pbMBS", New<PushButton>());
    });
    EXPECT_TRUE(w->Control<StaticText>("StaticText1"));
    EXPECT_TRUE(w->Control<Control>("pbMBS"));
    EXPECT_THROW(w->Control<StaticText>("NoSuchControl"), NilObjectException);
    EXPECT_THROW(w->Control<StaticText>("pbMBS"), NilObjectException);
    EXPECT_FALSE(w->FindControl("NoSuchControl"));
    EXPECT_THROW(w->AddControl("pbMBS", New<PushButton>()), RuntimeException);
}

TEST_F(WindowTest, ControlByName_FromACooperativeThread_SetsTheLabelOrRaises)
{
    auto w = MakeTestWindow([](TestWindow &win) {
        auto label = New<StaticText>();
        win.AddControl("StaticText1", label);
        label->SetBounds(10, 10, 300, 20);
    });
    bool done = false;
    bool raised = false;
    Ref<Window> window = w;
    auto thread = std::make_shared<platform::testing::LambdaThread>([&] {
        window->Control<StaticText>("StaticText1")->SetText("Loading Record 1 of 3");
        Yield();
        try {
            window->Control<StaticText>("StaticText9")->SetText("x");
        } catch (const NilObjectException &) {
            raised = true;
        }
        done = true;
    });
    thread->Run();
    ASSERT_TRUE(ProcessEventsUntil([&] { return done; }, kWaitMs));
    EXPECT_TRUE(raised);
    auto *label = static_cast<QLabel *>(WidgetOf(*w->FindControl("StaticText1")));
    EXPECT_EQ(label->text(), QString("Loading Record 1 of 3"));
}

TEST_F(WindowTest, TabOrder_FollowsTabIndexAmongFocusableControls)
{
    struct Case
    {
        const char *name;
        int tabIndex;
        bool button;
    };
    // In creation order; the labels take no focus.
    const Case cases[] = { { "pbMBS", 1, true }, { "StaticText1", 3, false },
        { "btnUnexempt", 7, true }, { "btnValidate", 8, true }, { "btnExempt", 9, true },
        { "lstLike", 10, true }, { "StaticText2", 4, false } };
    auto w = MakeTestWindow([&](TestWindow &win) {
        for (const Case &c : cases) {
            Ref<Control> control;
            if (c.button)
                control = New<PushButton>();
            else
                control = New<StaticText>();
            win.AddControl(c.name, control);
            control->SetTabIndex(c.tabIndex);
        }
    });
    QWidget *first = WidgetOf(*w->FindControl("pbMBS"));
    std::vector<std::string> order;
    QWidget *at = first;
    do {
        for (const auto &c : w->Controls()) {
            if (WidgetOf(*c) == at)
                order.push_back(c->Name());
        }
        at = at->nextInFocusChain();
    } while (at && at != first && order.size() < 20);
    const std::vector<std::string> focusable = [&] {
        std::vector<std::string> names;
        for (const std::string &n : order) {
            if (WidgetOf(*w->FindControl(n))->focusPolicy() & Qt::TabFocus)
                names.push_back(n);
        }
        return names;
    }();
    const std::vector<std::string> expected
        = { "pbMBS", "btnUnexempt", "btnValidate", "btnExempt", "lstLike" };
    EXPECT_EQ(focusable, expected);
}

TEST_F(WindowTest, PushButton_ClickedWhileEnabled_RunsActionOnce)
{
    Ref<PushButton> button;
    int actions = 0;
    auto w = MakeTestWindow([&](TestWindow &win) {
        button = New<PushButton>();
        win.AddControl("pbMBS", button);
        button->SetBounds(10, 10, 200, 20);
        button->SetCaption("Load Directory to Scan");
        button->Action = [&] { ++actions; };
    });
    auto *qbutton = static_cast<QPushButton *>(WidgetOf(*button));
    EXPECT_EQ(qbutton->text(), QString("Load Directory to Scan"));
    EXPECT_EQ(button->Caption(), "Load Directory to Scan");
    EXPECT_FALSE(qbutton->isDefault());
    EXPECT_FALSE(qbutton->autoDefault());
    QTest::mouseClick(qbutton, Qt::LeftButton);
    EXPECT_EQ(actions, 1);
    button->SetEnabled(false);
    EXPECT_FALSE(button->Enabled());
    QTest::mouseClick(qbutton, Qt::LeftButton);
    EXPECT_EQ(actions, 1);
}

TEST_F(WindowTest, PushButton_ActionRaises_GoesToTheUnhandledHandler)
{
    auto dialogs = std::make_shared<ScriptedDialogs>();
    SetDialogProvider(dialogs);
    Ref<PushButton> button;
    auto w = MakeTestWindow([&](TestWindow &win) {
        button = New<PushButton>();
        win.AddControl("b", button);
        button->Action = [] { throw OutOfBoundsException(); };
    });
    QTest::mouseClick(static_cast<QPushButton *>(WidgetOf(*button)), Qt::LeftButton);
    SetDialogProvider(nullptr);
    ASSERT_EQ(dialogs->Messages().size(), 1u);
    EXPECT_NE(dialogs->Messages()[0].find("OutOfBoundsException"), std::string::npos);
}

TEST_F(WindowTest, StaticText_TextIsPlainAndTheHelpTagIsTheTip)
{
    Ref<StaticText> label;
    auto w = MakeTestWindow([&](TestWindow &win) {
        label = New<StaticText>();
        win.AddControl("Location", label);
    });
    const std::string path = "Disk:Users:<b>me</b>:a & b.txt";
    label->SetText("Location: " + path);
    label->SetHelpTag(path);
    auto *q = static_cast<QLabel *>(WidgetOf(*label));
    EXPECT_EQ(q->textFormat(), Qt::PlainText);
    EXPECT_EQ(label->Text(), "Location: " + path);
    EXPECT_EQ(q->toolTip().toStdString(), path);
    EXPECT_EQ(label->HelpTag(), path);
    EXPECT_FALSE(label->Multiline());
    label->SetMultiline(true);
    EXPECT_TRUE(q->wordWrap());
}

TEST_F(WindowTest, ProgressBar_MaximumAndValue_ShownWithinRange)
{
    struct Case
    {
        int maximum, value;
        int shownMin, shownMax, shownValue;
    };
    const Case cases[] = {
        { 100, 0, 0, 100, 0 },
        { 3, 2, 0, 3, 2 },
        { 3, 7, 0, 3, 3 },
        { 10, -1, 0, 10, 0 },
        { 0, 0, 0, 0, -1 },
        { -1, 5, 0, 0, -1 },
    };
    Ref<ProgressBar> pb;
    auto w = MakeTestWindow([&](TestWindow &win) {
        pb = New<ProgressBar>();
        win.AddControl("pb", pb);
    });
    auto *q = static_cast<QProgressBar *>(WidgetOf(*pb));
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.maximum) + " / " + std::to_string(c.value));
        pb->SetMaximum(c.maximum);
        pb->SetValue(c.value);
        EXPECT_EQ(pb->Maximum(), c.maximum);
        EXPECT_EQ(pb->Value(), c.value);
        EXPECT_EQ(q->minimum(), c.shownMin);
        EXPECT_EQ(q->maximum(), c.shownMax);
        if (c.shownValue >= 0) {
            EXPECT_EQ(q->value(), c.shownValue);
        }
        QPixmap shot = q->grab(); // paints without dividing by zero
        EXPECT_FALSE(shot.isNull());
    }
    pb->SetVisible(false);
    EXPECT_FALSE(pb->Visible());
    EXPECT_TRUE(q->isHidden());
}

TEST_F(WindowTest, EditField_AppendAtTheEnd_TextGrowsAndSelChangeFollows)
{
    Ref<EditField> field;
    std::vector<std::pair<int, int>> changes;
    auto w = MakeTestWindow([&](TestWindow &win) {
        field = New<EditField>();
        win.AddControl("txtLog", field);
        field->SetBounds(20, 14, 360, 200);
        field->SetTextFont("Verdana");
        field->SetTextSize(10);
        field->SelChange = [&] { changes.emplace_back(field->SelStart(), field->SelLength()); };
    });
    auto append = [&](const std::string &entry) {
        std::string text = entry;
        if (field->Length() > 0)
            text = "\n\n" + text;
        field->SetSelStart(field->Length());
        field->SetSelLength(0);
        field->SetSelText(text);
    };
    append("2024-01-02 03:04:05: first");
    append("2024-01-02 03:04:06: second");
    EXPECT_EQ(field->Text(), "2024-01-02 03:04:05: first\n\n2024-01-02 03:04:06: second");
    EXPECT_EQ(field->SelStart(), field->Length());
    EXPECT_EQ(field->SelLength(), 0);

    changes.clear();
    field->SetSelStart(21);
    field->SetSelLength(5);
    EXPECT_EQ(field->SelText(), "first");
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes.back(), std::make_pair(21, 5));

    auto *edit = static_cast<QPlainTextEdit *>(WidgetOf(*field));
    EXPECT_EQ(edit->font().family(), QString("Verdana"));
    EXPECT_EQ(edit->font().pixelSize(), 10);
    EXPECT_TRUE(edit->tabChangesFocus());
    EXPECT_FALSE(field->ReadOnly());
}

TEST_F(WindowTest, EditField_PositionsCountCharacters)
{
    Ref<EditField> field;
    auto w = MakeTestWindow([&](TestWindow &win) {
        field = New<EditField>();
        win.AddControl("f", field);
    });
    field->SetText("a\xF0\x9F\x98\x80"
                   "b\nc"); // a, an emoji, b, line end, c
    EXPECT_EQ(field->Length(), 5);
    field->SetSelStart(1);
    field->SetSelLength(2);
    EXPECT_EQ(field->SelText(),
        "\xF0\x9F\x98\x80"
        "b");
    field->SetSelStart(2);
    field->SetSelLength(3);
    EXPECT_EQ(field->SelText(), "b\nc");
    EXPECT_EQ(field->SelStart(), 2);
    EXPECT_EQ(field->SelLength(), 3);
}

TEST_F(WindowTest, Fonts_SystemSmallSystemAndSizes)
{
    Ref<PushButton> big;
    Ref<PushButton> small;
    auto w = MakeTestWindow([&](TestWindow &win) {
        big = New<PushButton>();
        win.AddControl("big", big);
        big->SetTextSize(12);
        small = New<PushButton>();
        win.AddControl("small", small);
        small->SetTextFont("SmallSystem");
    });
    EXPECT_EQ(WidgetOf(*big)->font().pixelSize(), 12);
    EXPECT_EQ(WidgetOf(*big)->font().family(), QApplication::font().family());
    EXPECT_LT(WidgetOf(*small)->font().pixelSize(), QFontInfo(QApplication::font()).pixelSize());
    EXPECT_EQ(small->TextFont(), "SmallSystem");
}

TEST_F(WindowTest, Close_ByTheFrame_RunsCloseAndForgetsTheWindow)
{
    auto w = MakeTestWindow(nullptr);
    WidgetOf(*w)->close();
    EXPECT_TRUE(w->IsClosed());
    EXPECT_EQ(std::count(w->events.begin(), w->events.end(), "window close"), 1);
    for (const auto &open : OpenWindows())
        EXPECT_NE(open.Raw(), w.Raw());
}

TEST_F(WindowTest, Placement_CentredOnItsScreenAtTheFirstShowOnly)
{
    const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
    for (auto placement : { Window::Placement::MainScreen, Window::Placement::ParentScreen }) {
        SCOPED_TRACE(int(placement));
        auto parent = MakeTestWindow(nullptr); // in front when the placed window opens
        auto w = MakeTestWindow(nullptr, [placement](TestWindow &win) {
            win.SetSize(300, 200);
            win.SetPlacement(placement);
        });
        // The frame goes where a window of its content's size would be centred.
        const QSize size = WidgetOf(*w)->size();
        EXPECT_EQ(WidgetOf(*w)->pos(),
            avail.topLeft()
                + QPoint((avail.width() - size.width()) / 2, (avail.height() - size.height()) / 2));

        // Shown again after the user moved it: it stays where it was put.
        WidgetOf(*w)->move(avail.topLeft() + QPoint(7, 9));
        w->SetVisible(false);
        w->Show();
        EXPECT_EQ(WidgetOf(*w)->pos(), avail.topLeft() + QPoint(7, 9));
        w->Close();
        parent->Close();
    }
}

TEST_F(WindowTest, SetLeftSetTop_ReadBack_PlacedBeforeTheFirstShowKeepsThePlace)
{
    // Placed while hidden: the first showing keeps the place instead of centring the window.
    auto w = MakeTestWindow(nullptr, [](TestWindow &win) {
        win.SetPlacement(Window::Placement::MainScreen);
        win.SetVisible(false);
    });
    w->SetLeft(-120);
    w->SetTop(-30);
    w->Show();
    EXPECT_EQ(w->Left(), -120);
    EXPECT_EQ(w->Top(), -30);
    // Shown: it moves at once, and keeps its size.
    w->SetLeft(40);
    w->SetTop(25);
    EXPECT_EQ(w->Left(), 40);
    EXPECT_EQ(w->Top(), 25);
    EXPECT_EQ(w->Width(), 400);
    EXPECT_EQ(w->Height(), 300);
    w->Close();
}

TEST_F(WindowTest, Screens_MainScreenFirst_AnotherIndexRaises)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    ASSERT_EQ(ScreenCount(), int(screens.size()));
    ASSERT_GE(ScreenCount(), 1);
    const QRect main = QGuiApplication::primaryScreen()->geometry();
    const ScreenArea first = Screen(0);
    EXPECT_EQ(QRect(first.Left, first.Top, first.Width, first.Height), main);
    for (int i = 0; i < ScreenCount(); ++i) {
        const ScreenArea a = Screen(i);
        EXPECT_TRUE(std::any_of(screens.begin(), screens.end(), [&](QScreen *s) {
            return s->geometry() == QRect(a.Left, a.Top, a.Width, a.Height);
        })) << i;
    }
    EXPECT_THROW(Screen(ScreenCount()), OutOfBoundsException);
    EXPECT_THROW(Screen(-1), OutOfBoundsException);
}

TEST_F(WindowTest, Frontmost_IsTheWindowShownLast)
{
    auto a = MakeTestWindow(nullptr);
    auto b = MakeTestWindow(nullptr);
    EXPECT_EQ(FrontmostWindow().Raw(), b.Raw());
    EXPECT_EQ(OpenWindowOf<TestWindow>().Raw(), b.Raw());
    a->Show();
    ASSERT_TRUE(ProcessEventsUntil([&] { return FrontmostWindow().Raw() == a.Raw(); }, kWaitMs));
    b->Close();
    EXPECT_EQ(OpenWindowOf<TestWindow>().Raw(), a.Raw());
}

TEST_F(WindowTest, Show_FromAWorker_EventLoopTurnsBeforeTheWorkerGoesOn)
{
    // In the deterministic mode a worker that yields is resumed again at once, in the same turn
    // of the event loop, unless it has just shown a window: then what the loop holds (the
    // window's painting, a call posted before) comes first.
    std::vector<std::string> log;
    bool done = false;
    auto worker = std::make_shared<platform::testing::LambdaThread>([&] {
        for (int i = 0; i < 2; ++i) {
            log.push_back("plain " + std::to_string(i));
            Yield();
        }
        for (int i = 0; i < 2; ++i) {
            MakeTestWindow(nullptr);
            log.push_back("shown " + std::to_string(i));
            Yield();
        }
        done = true;
    });
    worker->Run();
    DispatchLater([&] { log.push_back("posted"); });
    ASSERT_TRUE(ProcessEventsUntil([&] { return done; }, kWaitMs));
    EXPECT_EQ(
        log, (std::vector<std::string> { "plain 0", "plain 1", "shown 0", "posted", "shown 1" }));
}

TEST(Clipboard, SetText_ReadsBackTheSameText)
{
    Clipboard c;
    c.SetText("2024-01-02 03:04:05: report\nline two");
    EXPECT_TRUE(Clipboard().TextAvailable());
    EXPECT_EQ(Clipboard().Text(), "2024-01-02 03:04:05: report\nline two");
}

TEST(DragItem, Items_ReadInDropOrderUntilNextItemFails)
{
    platform::testing::TempFolder folder;
    std::vector<Ref<FolderItem>> items;
    for (const char *name : { "a.txt", "b", "c.txt" })
        items.push_back(FolderItem::FromNativePath(folder / name));
    DragItem drag(items);
    std::vector<std::string> seen;
    ASSERT_TRUE(drag.FolderItemAvailable());
    do {
        seen.push_back(drag.FolderItem()->DisplayName());
    } while (drag.NextItem());
    const std::vector<std::string> expected = { "a.txt", "b", "c.txt" };
    EXPECT_EQ(seen, expected);
    EXPECT_FALSE(drag.NextItem());
    EXPECT_EQ(drag.FolderItem()->DisplayName(), "c.txt");

    DragItem empty({});
    EXPECT_FALSE(empty.FolderItemAvailable());
    EXPECT_FALSE(empty.FolderItem());
    EXPECT_FALSE(empty.NextItem());
}
