// A control outlives its window only as a reference: once the window has closed, every operation
// on it raises NilObjectException, whether the window object is still referenced or destroyed,
// and whether GUI code or a cooperative thread holds the control.

#include "platform/application.h"
#include "platform/controls.h"
#include "platform/exceptions.h"
#include "platform/filetype.h"
#include "platform/listbox.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "tests/support/testsupport.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace platform;

namespace {

constexpr int kWaitMs = 5000;

using Operation = std::pair<std::string, std::function<void(Control &)>>;

template<class C> Operation On(std::string name, std::function<void(C &)> call)
{
    return { std::move(name), [call](Control &c) { call(dynamic_cast<C &>(c)); } };
}

/// What every kind of control offers.
std::vector<Operation> CommonOperations()
{
    return {
        On<Control>("Name", [](Control &c) { c.Name(); }),
        On<Control>("ParentWindow", [](Control &c) { c.ParentWindow(); }),
        On<Control>("Parent", [](Control &c) { c.Parent(); }),
        On<Control>("Left", [](Control &c) { c.Left(); }),
        On<Control>("Top", [](Control &c) { c.Top(); }),
        On<Control>("Width", [](Control &c) { c.Width(); }),
        On<Control>("Height", [](Control &c) { c.Height(); }),
        On<Control>("SetLeft", [](Control &c) { c.SetLeft(5); }),
        On<Control>("SetTop", [](Control &c) { c.SetTop(5); }),
        On<Control>("SetWidth", [](Control &c) { c.SetWidth(150); }),
        On<Control>("SetHeight", [](Control &c) { c.SetHeight(120); }),
        On<Control>("SetBounds", [](Control &c) { c.SetBounds(10, 10, 160, 120); }),
        On<Control>("LockRight", [](Control &c) { c.LockRight(); }),
        On<Control>("SetLocks", [](Control &c) { c.SetLocks(true, true, true, false); }),
        On<Control>("Enabled", [](Control &c) { c.Enabled(); }),
        On<Control>("SetEnabled", [](Control &c) { c.SetEnabled(false); }),
        On<Control>("Visible", [](Control &c) { c.Visible(); }),
        On<Control>("SetVisible", [](Control &c) { c.SetVisible(true); }),
        On<Control>("HelpTag", [](Control &c) { c.HelpTag(); }),
        On<Control>("SetHelpTag", [](Control &c) { c.SetHelpTag("tip"); }),
        On<Control>("TabIndex", [](Control &c) { c.TabIndex(); }),
        On<Control>("SetTabIndex", [](Control &c) { c.SetTabIndex(3); }),
        On<Control>("TextFont", [](Control &c) { c.TextFont(); }),
        On<Control>("SetTextFont", [](Control &c) { c.SetTextFont("SmallSystem"); }),
        On<Control>("TextSize", [](Control &c) { c.TextSize(); }),
        On<Control>("SetTextSize", [](Control &c) { c.SetTextSize(12); }),
        On<Control>("Refresh", [](Control &c) { c.Refresh(); }),
        On<Control>("SetFocus", [](Control &c) { c.SetFocus(); }),
    };
}

struct KindCase
{
    const char *kind;
    std::function<Ref<Control>()> make;
    std::vector<Operation> operations; // valid on the control as `make` gives it, in this order
};

std::vector<KindCase> KindCases()
{
    return {
        { "PushButton", [] { return Ref<Control>(New<PushButton>()); },
            {
                On<PushButton>("Caption", [](PushButton &b) { b.Caption(); }),
                On<PushButton>("SetCaption", [](PushButton &b) { b.SetCaption("Go"); }),
            } },
        { "StaticText", [] { return Ref<Control>(New<StaticText>()); },
            {
                On<StaticText>("Text", [](StaticText &t) { t.Text(); }),
                On<StaticText>("SetText", [](StaticText &t) { t.SetText("Loading Record 1"); }),
                On<StaticText>("Multiline", [](StaticText &t) { t.Multiline(); }),
                On<StaticText>("SetMultiline", [](StaticText &t) { t.SetMultiline(true); }),
            } },
        { "ProgressBar", [] { return Ref<Control>(New<ProgressBar>()); },
            {
                On<ProgressBar>("Maximum", [](ProgressBar &p) { p.Maximum(); }),
                On<ProgressBar>("SetMaximum", [](ProgressBar &p) { p.SetMaximum(50); }),
                On<ProgressBar>("Value", [](ProgressBar &p) { p.Value(); }),
                On<ProgressBar>("SetValue", [](ProgressBar &p) { p.SetValue(40); }),
            } },
        { "GroupBox", [] { return Ref<Control>(New<GroupBox>()); },
            {
                On<GroupBox>("Caption", [](GroupBox &g) { g.Caption(); }),
                On<GroupBox>("SetCaption", [](GroupBox &g) { g.SetCaption("File"); }),
            } },
        { "EditField", [] { return Ref<Control>(New<EditField>()); },
            {
                On<EditField>("Text", [](EditField &e) { e.Text(); }),
                On<EditField>("SetText", [](EditField &e) { e.SetText("first line"); }),
                On<EditField>("Length", [](EditField &e) { e.Length(); }),
                On<EditField>("SelStart", [](EditField &e) { e.SelStart(); }),
                On<EditField>("SetSelStart", [](EditField &e) { e.SetSelStart(2); }),
                On<EditField>("SelLength", [](EditField &e) { e.SelLength(); }),
                On<EditField>("SetSelLength", [](EditField &e) { e.SetSelLength(3); }),
                On<EditField>("SelText", [](EditField &e) { e.SelText(); }),
                On<EditField>("SetSelText", [](EditField &e) { e.SetSelText("x"); }),
                On<EditField>("ReadOnly", [](EditField &e) { e.ReadOnly(); }),
                On<EditField>("SetReadOnly", [](EditField &e) { e.SetReadOnly(true); }),
            } },
        { "Listbox",
            [] {
                auto list = New<Listbox>();
                list->SetColumnCount(4);
                list->AddRow(std::vector<std::string> { "a.txt", "<data>", "", "" });
                list->AddRow(std::vector<std::string> { "b.txt", "<data>", "", "" });
                return Ref<Control>(list);
            },
            {
                On<Listbox>("ColumnCount", [](Listbox &l) { l.ColumnCount(); }),
                On<Listbox>("HasHeading", [](Listbox &l) { l.HasHeading(); }),
                On<Listbox>("SetHasHeading", [](Listbox &l) { l.SetHasHeading(true); }),
                On<Listbox>("Heading", [](Listbox &l) { l.Heading(0); }),
                On<Listbox>("SetHeading", [](Listbox &l) { l.SetHeading(0, "File Name"); }),
                On<Listbox>("ColumnWidths", [](Listbox &l) { l.ColumnWidths(); }),
                On<Listbox>("SetColumnWidths", [](Listbox &l) { l.SetColumnWidths("*, 65"); }),
                On<Listbox>("ColumnWidth", [](Listbox &l) { l.ColumnWidth(1); }),
                On<Listbox>("ColumnType", [](Listbox &l) { l.ColumnType(3); }),
                On<Listbox>(
                    "SetColumnType", [](Listbox &l) { l.SetColumnType(3, Listbox::TypeCheckbox); }),
                On<Listbox>("Hierarchical", [](Listbox &l) { l.Hierarchical(); }),
                On<Listbox>("SetHierarchical", [](Listbox &l) { l.SetHierarchical(true); }),
                On<Listbox>("SelectionType", [](Listbox &l) { l.SelectionType(); }),
                On<Listbox>("SetSelectionType", [](Listbox &l) { l.SetSelectionType(1); }),
                On<Listbox>("AddRow", [](Listbox &l) { l.AddRow("c.txt"); }),
                On<Listbox>("AddRow cells",
                    [](Listbox &l) {
                        l.AddRow(std::vector<std::string> { "d.txt", "<data>" });
                    }),
                On<Listbox>("LastIndex", [](Listbox &l) { l.LastIndex(); }),
                On<Listbox>("ListCount", [](Listbox &l) { l.ListCount(); }),
                On<Listbox>("Cell", [](Listbox &l) { l.Cell(0, 0); }),
                On<Listbox>("SetCell", [](Listbox &l) { l.SetCell(0, 2, "ABCDEF0123456789"); }),
                On<Listbox>("CellTag", [](Listbox &l) { l.CellTag(0, 0); }),
                On<Listbox>("SetCellTag", [](Listbox &l) { l.SetCellTag(0, 0, int32_t(7)); }),
                On<Listbox>("RowTag", [](Listbox &l) { l.RowTag(1); }),
                On<Listbox>("SetRowTag", [](Listbox &l) { l.SetRowTag(1, "Disk:b.txt"); }),
                On<Listbox>("CellType", [](Listbox &l) { l.CellType(0, 3); }),
                On<Listbox>(
                    "SetCellType", [](Listbox &l) { l.SetCellType(0, 3, Listbox::TypeCheckbox); }),
                On<Listbox>("CellCheck", [](Listbox &l) { l.CellCheck(0, 3); }),
                On<Listbox>("SetCellCheck", [](Listbox &l) { l.SetCellCheck(0, 3, true); }),
                On<Listbox>("RowPicture", [](Listbox &l) { l.RowPicture(0); }),
                On<Listbox>("SetRowPicture", [](Listbox &l) { l.SetRowPicture(0, nullptr); }),
                On<Listbox>("Selected", [](Listbox &l) { l.Selected(1); }),
                On<Listbox>("SetSelected", [](Listbox &l) { l.SetSelected(1, true); }),
                On<Listbox>("SelCount", [](Listbox &l) { l.SelCount(); }),
                On<Listbox>("ListIndex", [](Listbox &l) { l.ListIndex(); }),
                On<Listbox>("SetListIndex", [](Listbox &l) { l.SetListIndex(0); }),
                On<Listbox>("AcceptFileDrop", [](Listbox &l) { l.AcceptFileDrop("special/any"); }),
                On<Listbox>(
                    "AcceptFileDrop type", [](Listbox &l) { l.AcceptFileDrop(FileType()); }),
                On<Listbox>("SetColumnCount", [](Listbox &l) { l.SetColumnCount(5); }),
                On<Listbox>("DeleteAllRows", [](Listbox &l) { l.DeleteAllRows(); }),
            } },
    };
}

/// A window holding one control, named "subject", inside a group box as the main window's file
/// details are.
class SubjectWindow : public Window
{
public:
    explicit SubjectWindow(Ref<platform::Control> subject)
        : m_subject(std::move(subject))
    {
    }

protected:
    void Layout() override { SetSize(400, 300); }
    void CreateControls() override
    {
        auto box = New<GroupBox>();
        AddControl("box", box);
        box->SetBounds(10, 10, 380, 280);
        AddControl("subject", m_subject, box);
        m_subject->SetBounds(20, 30, 200, 150);
    }

private:
    Ref<platform::Control> m_subject;
};

/// The names of the operations that did not raise NilObjectException.
std::vector<std::string> NotRaising(Control &control, const std::vector<Operation> &operations)
{
    std::vector<std::string> failed;
    for (const auto &[name, call] : operations) {
        try {
            call(control);
            failed.push_back(name + " (returned)");
        } catch (const NilObjectException &) {
        } catch (const std::exception &e) {
            failed.push_back(name + " (raised " + e.what() + ")");
        }
    }
    return failed;
}

std::vector<Operation> OperationsOf(const KindCase &c)
{
    std::vector<Operation> all = CommonOperations();
    all.insert(all.end(), c.operations.begin(), c.operations.end());
    return all;
}

/// Closes the window, has Qt delete its widgets (as the event loop does after the handler that
/// closed it) and, unless `keepWindow`, drops the last reference to the window object.
void CloseAndForget(Ref<SubjectWindow> &window, bool keepWindow)
{
    std::weak_ptr<Window> weak = window.Shared();
    QPointer<QWidget> widget = static_cast<QWidget *>(window->NativeHandle());
    window->Close();
    if (!keepWindow)
        window = nullptr;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(widget.isNull());
    EXPECT_EQ(weak.expired(), !keepWindow);
}

class ControlAfterWindowTest : public ::testing::TestWithParam<KindCase>
{
protected:
    void TearDown() override { CloseAllWindows(); }
};

} // namespace

TEST_P(ControlAfterWindowTest, WindowOpen_EveryOperationWorks)
{
    const KindCase &c = GetParam();
    auto window = MakeWindow<SubjectWindow>(c.make());
    auto subject = window->FindControl("subject");
    for (const auto &[name, call] : OperationsOf(c)) {
        SCOPED_TRACE(name);
        EXPECT_NO_THROW(call(*subject));
    }
}

TEST_P(ControlAfterWindowTest, WindowClosed_EveryOperationRaisesNilObject)
{
    const KindCase &c = GetParam();
    for (bool keepWindow : { true, false }) {
        SCOPED_TRACE(keepWindow ? "window still referenced" : "window destroyed");
        auto window = MakeWindow<SubjectWindow>(c.make());
        Ref<Control> subject = window->FindControl("subject");
        Ref<Control> box = window->FindControl("box");
        CloseAndForget(window, keepWindow);
        EXPECT_EQ(NotRaising(*subject, OperationsOf(c)), std::vector<std::string>());
        EXPECT_EQ(NotRaising(*box, CommonOperations()), std::vector<std::string>());
        EXPECT_EQ(subject->NativeHandle(), nullptr);
    }
}

TEST_P(ControlAfterWindowTest, ThreadHoldsControlAcrossClose_EveryOperationRaisesNilObject)
{
    const KindCase &c = GetParam();
    auto window = MakeWindow<SubjectWindow>(c.make());
    std::vector<std::string> notRaising;
    bool fetched = false;
    bool done = false;
    Ref<Window> shared = window;
    auto thread = std::make_shared<platform::testing::LambdaThread>([&] {
        // As a worker reaches the main window's controls: by name, then it keeps the reference.
        Ref<Control> subject = shared->Control<Control>("subject");
        shared = nullptr;
        fetched = true;
        Scheduler::Block();
        notRaising = NotRaising(*subject, OperationsOf(c));
        done = true;
    });
    thread->Run();
    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return fetched && thread->GetState() == Thread::State::Suspended; }, kWaitMs));
    CloseAndForget(window, /*keepWindow=*/false);
    Scheduler::Wake(thread.get());
    ASSERT_TRUE(ProcessEventsUntil([&] { return done; }, kWaitMs));
    EXPECT_EQ(notRaising, std::vector<std::string>());
}

INSTANTIATE_TEST_SUITE_P(EveryKind, ControlAfterWindowTest, ::testing::ValuesIn(KindCases()),
    [](const ::testing::TestParamInfo<KindCase> &info) { return std::string(info.param.kind); });
