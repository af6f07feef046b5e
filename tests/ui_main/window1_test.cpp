#include "mainwindowtest.h"
#include "platform/application.h"
#include "tests/support/testsupport.h"
#include "ui/main/menu.h"
#include "ui/main/window1.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

struct Geometry
{
    const char *name;
    int left, top, width, height;
};

// Positions in the content area; labels of the details group in window coordinates too.
const Geometry kDesign[] = {
    { "pbMBS", 537, 515, 289, 20 },
    { "StaticText1", 20, 413, 806, 22 },
    { "pb", 20, 440, 806, 17 },
    { "StaticText2", 20, 390, 806, 21 },
    { "btnUnexempt", 537, 579, 289, 20 },
    { "btnValidate", 537, 611, 289, 20 },
    { "btnExempt", 537, 547, 289, 20 },
    { "lstFiles", 20, 14, 806, 364 },
    { "GroupBox1", 20, 469, 505, 162 },
    { "FileName", 31, 497, 485, 20 },
    { "Location", 31, 525, 485, 26 },
    { "Created", 31, 561, 485, 20 },
    { "Modified", 31, 593, 485, 20 },
};

// After growing the window by (+200, +100).
const Geometry kGrown[] = {
    { "pbMBS", 737, 615, 289, 20 },
    { "StaticText1", 20, 513, 1006, 22 },
    { "pb", 20, 540, 1006, 17 },
    { "StaticText2", 20, 490, 1006, 21 },
    { "btnUnexempt", 737, 679, 289, 20 },
    { "btnValidate", 737, 711, 289, 20 },
    { "btnExempt", 737, 647, 289, 20 },
    { "lstFiles", 20, 14, 1006, 464 },
    { "GroupBox1", 20, 569, 505, 162 },
    { "FileName", 31, 597, 485, 20 },
    { "Location", 31, 625, 485, 26 },
    { "Created", 31, 661, 485, 20 },
    { "Modified", 31, 693, 485, 20 },
};

void ExpectGeometry(Window1 &w, const Geometry (&table)[13])
{
    for (const Geometry &g : table) {
        SCOPED_TRACE(g.name);
        auto c = w.FindControl(g.name);
        ASSERT_TRUE(c);
        EXPECT_EQ(c->Left(), g.left);
        EXPECT_EQ(c->Top(), g.top);
        EXPECT_EQ(c->Width(), g.width);
        EXPECT_EQ(c->Height(), g.height);
    }
}

// The window's Open event needs what start-up makes: the application object, the file types.
class Window1Test : public mainwindowtest::MainWindowTest
{
};

} // namespace

TEST_F(Window1Test, Controls_FollowTheirLocksWhenTheWindowGrows)
{
    auto w = Window1_();
    ASSERT_EQ(w->Controls().size(), 13u);
    EXPECT_EQ(w->Width(), 846);
    EXPECT_EQ(w->Height(), 651);
    ExpectGeometry(*w, kDesign);

    w->SetSize(846 + 200, 651 + 100);
    ASSERT_TRUE(ProcessEventsUntil([&] { return w->lstFiles->Width() == 1006; }, 3000));
    ExpectGeometry(*w, kGrown);

    // The window cannot shrink below its design size: it stops there.
    w->SetSize(500, 300);
    ASSERT_TRUE(ProcessEventsUntil([&] { return w->lstFiles->Width() == 806; }, 3000));
    ExpectGeometry(*w, kDesign);
    EXPECT_EQ(w->MinWidth(), 846);
    EXPECT_EQ(w->MinHeight(), 651);
    EXPECT_GE(w->Width(), 846);
    EXPECT_GE(w->Height(), 651);
    EXPECT_EQ(w->MaxWidth(), 32000);
}

TEST_F(Window1Test, Controls_DesignSettings)
{
    auto w = Window1_();
    EXPECT_EQ(w->Title(), "Tallowmere");
    EXPECT_EQ(w->pbMBS->Caption(), "Load Directory to Scan");
    EXPECT_TRUE(w->pbMBS->Enabled());
    for (const auto &b : { w->btnUnexempt, w->btnValidate, w->btnExempt })
        EXPECT_FALSE(b->Enabled()) << b->Name();
    EXPECT_EQ(w->btnUnexempt->Caption(), "Unexempt Selected Resources");
    EXPECT_EQ(w->btnValidate->Caption(), "Perform CRC Validation on Selected Files");
    EXPECT_EQ(w->btnExempt->Caption(), "Exempt Selected Resources");
    EXPECT_EQ(w->GroupBox1->Caption(), "File Details");
    EXPECT_EQ(w->FileName->Text(), "File Name:");
    EXPECT_EQ(w->Location->Text(), "Location:");
    EXPECT_EQ(w->Created->Text(), "Created On:");
    EXPECT_EQ(w->Modified->Text(), "Last Modified:");
    EXPECT_EQ(w->FileName->Parent(), w->GroupBox1.Raw());
    EXPECT_TRUE(w->StaticText1->Multiline());
    EXPECT_FALSE(w->StaticText2->Multiline());
    EXPECT_EQ(w->pb->Maximum(), 100);
    EXPECT_EQ(w->pb->Value(), 0);
    EXPECT_EQ(w->lstFiles->ColumnCount(), 4);
    EXPECT_EQ(w->lstFiles->SelectionType(), 1);
    EXPECT_EQ(w->MyRow, 0);
    // Tab order among the controls that take focus.
    const std::vector<std::pair<const char *, int>> tabs = { { "pbMBS", 1 }, { "btnUnexempt", 7 },
        { "btnValidate", 8 }, { "btnExempt", 9 }, { "lstFiles", 10 } };
    for (const auto &[name, index] : tabs)
        EXPECT_EQ(w->FindControl(name)->TabIndex(), index) << name;
}

TEST_F(Window1Test, Accessor_ReturnsTheOneOpenWindow)
{
    auto a = Window1_();
    auto b = Window1_();
    EXPECT_EQ(a, b);
    int mainWindows = 0;
    for (const auto &w : OpenWindows())
        mainWindows += w.As<Window1>() ? 1 : 0;
    EXPECT_EQ(mainWindows, 1);
    a->Close();
    auto c = Window1_();
    EXPECT_NE(c, a);
}

TEST_F(Window1Test, ControlsByName_FromACooperativeThread)
{
    auto w = Window1_();
    int raised = 0;
    bool done = false;
    auto worker = std::make_shared<platform::testing::LambdaThread>([&] {
        Window1_()->Control<StaticText>("StaticText1")->SetText("Scanning Disk:home:");
        Yield();
        Window1_()->Control<ProgressBar>("pb")->SetValue(40);
        try {
            Window1_()->Control<StaticText>("NoSuchLabel");
        } catch (const NilObjectException &) {
            ++raised;
        }
        try {
            Window1_()->Control<StaticText>("pbMBS"); // a button, not a label
        } catch (const NilObjectException &) {
            ++raised;
        }
        done = true;
    });
    worker->Run();
    ASSERT_TRUE(ProcessEventsUntil([&] { return done; }, 5000));
    EXPECT_EQ(w->StaticText1->Text(), "Scanning Disk:home:");
    EXPECT_EQ(w->pb->Value(), 40);
    EXPECT_EQ(raised, 2); // an absent name, and a control of another kind
}

TEST(Menu, ItemsNamesShortcutsAndAutoEnable)
{
    auto bar = Menu_();
    EXPECT_EQ(Menu_(), bar); // built once
    struct Row
    {
        const char *menu;
        const char *name;
        const char *text;
        const char *shortcut;
        bool autoEnable;
    };
    const Row rows[] = {
        { "UntitledMenu2", "FileOpenFolder", "Open Folder", "Cmd+O", true },
        { "UntitledMenu2", "FileQuit", "Quit", "Cmd+Q", true },
        { "UntitledMenu0", "EditUndo", "Undo", "Cmd+Z", false },
        { "UntitledMenu0", "UntitledMenu1", "-", "", false },
        { "UntitledMenu0", "EditCut", "Cut", "Cmd+X", false },
        { "UntitledMenu0", "EditCopy", "Copy", "Cmd+C", false },
        { "UntitledMenu0", "EditPaste", "Paste", "Cmd+V", false },
        { "UntitledMenu0", "EditClear", "Clear", "", false },
    };
    ASSERT_EQ(bar->Count(), 2);
    EXPECT_EQ(bar->Item(0)->Name(), "UntitledMenu2");
    EXPECT_EQ(bar->Item(0)->Text(), "File");
    EXPECT_EQ(bar->Item(1)->Name(), "UntitledMenu0");
    EXPECT_EQ(bar->Item(1)->Text(), "Edit");
    EXPECT_EQ(bar->Child("UntitledMenu2")->Count(), 2);
    EXPECT_EQ(bar->Child("UntitledMenu0")->Count(), 6);
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        auto item = bar->Child(r.menu)->Child(r.name);
        ASSERT_TRUE(item);
        EXPECT_EQ(item->Text(), r.text);
        EXPECT_EQ(item->KeyboardShortcut(), r.shortcut);
        EXPECT_EQ(item->AutoEnable(), r.autoEnable);
    }
    EXPECT_TRUE(bar->Child("UntitledMenu0")->Child("UntitledMenu1")->IsSeparator());
    EXPECT_TRUE(bar->Child("UntitledMenu2")->Child("FileQuit").As<QuitMenuItem>());
    EXPECT_EQ(NativeShortcutText("Cmd+X"), "Ctrl+X");
}

TEST_F(Window1Test, MenuEnabling_AutoEnabledAndHandledItemsOnly)
{
    auto w = Window1_();
    ASSERT_TRUE(ProcessEventsUntil([&] { return FrontmostWindow().Raw() == w.Raw(); }, 3000));
    auto bar = Menu_();
    bar->Child("UntitledMenu2")->EnableMenuItems();
    bar->Child("UntitledMenu0")->EnableMenuItems();
    EXPECT_TRUE(bar->Child("UntitledMenu2")->Child("FileOpenFolder")->Enabled());
    EXPECT_TRUE(bar->Child("UntitledMenu2")->Child("FileQuit")->Enabled());
    for (const char *name : { "EditUndo", "EditCut", "EditCopy", "EditPaste", "EditClear" })
        EXPECT_FALSE(bar->Child("UntitledMenu0")->Child(name)->Enabled()) << name;
}
