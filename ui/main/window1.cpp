#include "ui/main/window1.h"

#include <array>

#include "ui/main/menu.h"

using namespace platform;

Ref<Window1> Window1_() { return OpenOrMakeWindow<Window1>(); }

void Window1::Layout()
{
    SetMenuBar(Menu_());
    SetTitle("Tallowmere");
    SetSize(846, 651);
    SetMinimumSize(846, 651);
    SetMaximumSize(32000, 32000);
    SetFrame(Frame::Document);
    SetPlacement(Placement::MainScreen);
}

void Window1::CreateControls() { CreateControls0_(); }

namespace {

/// Places a control of the main window with its design geometry, locks and tab index.
template<class C>
Ref<C> Place(Window &w, const char *name, int left, int top, int width, int height,
    std::array<bool, 4> locks, int tabIndex, const Ref<Control> &parent = nullptr)
{
    auto c = New<C>();
    w.AddControl(name, c, parent);
    c->SetBounds(left, top, width, height);
    c->SetLocks(locks[0], locks[1], locks[2], locks[3]);
    c->SetTabIndex(tabIndex);
    return c;
}

// Edge locks as left, top, right, bottom.
constexpr std::array<bool, 4> kRightBottom { false, false, true, true };
constexpr std::array<bool, 4> kWidthBottom { true, false, true, true };
constexpr std::array<bool, 4> kAll { true, true, true, true };
constexpr std::array<bool, 4> kLeftBottom { true, false, false, true };
constexpr std::array<bool, 4> kNone { false, false, false, false };

} // namespace

void Window1::CreateControls0_()
{
    pbMBS = Place<PushButton>(*this, "pbMBS", 537, 515, 289, 20, kRightBottom, 1);
    pbMBS->SetCaption("Load Directory to Scan");
    pbMBS->SetTextSize(12);
    pbMBS->Action = [this] { pbMBS_Action(); };

    StaticText1 = Place<StaticText>(*this, "StaticText1", 20, 413, 806, 22, kWidthBottom, 3);
    StaticText1->SetMultiline(true);

    pb = Place<ProgressBar>(*this, "pb", 20, 440, 806, 17, kWidthBottom, -1);
    pb->SetMaximum(100);
    pb->SetValue(0);

    StaticText2 = Place<StaticText>(*this, "StaticText2", 20, 390, 806, 21, kWidthBottom, 4);

    btnUnexempt = Place<PushButton>(*this, "btnUnexempt", 537, 579, 289, 20, kRightBottom, 7);
    btnUnexempt->SetCaption("Unexempt Selected Resources");
    btnUnexempt->SetEnabled(false);
    btnUnexempt->Action = [this] { btnUnexempt_Action(); };

    btnValidate = Place<PushButton>(*this, "btnValidate", 537, 611, 289, 20, kRightBottom, 8);
    btnValidate->SetCaption("Perform CRC Validation on Selected Files");
    btnValidate->SetEnabled(false);
    btnValidate->Action = [this] { btnValidate_Action(); };

    btnExempt = Place<PushButton>(*this, "btnExempt", 537, 547, 289, 20, kRightBottom, 9);
    btnExempt->SetCaption("Exempt Selected Resources");
    btnExempt->SetEnabled(false);
    btnExempt->Action = [this] { btnExempt_Action(); };

    lstFiles = Place<Listbox>(*this, "lstFiles", 20, 14, 806, 364, kAll, 10);
    lstFiles->SetTextFont("SmallSystem");
    lstFiles->SetColumnCount(4);
    lstFiles->SetHasHeading(true);
    lstFiles->SetHierarchical(true);
    lstFiles->SetSelectionType(1);
    lstFiles->DropObject
        = [this](const Ref<DragItem> &obj, int action) { lstFiles_DropObject(obj, action); };
    lstFiles->Open = [this] { lstFiles_Open(); };
    lstFiles->Change = [this] { lstFiles_Change(); };
    lstFiles->CellAction = [this](int row, int column) { lstFiles_CellAction(row, column); };
    lstFiles->CellBackgroundPaint = [this](Graphics &g, int row, int column) {
        return lstFiles_CellBackgroundPaint(g, row, column);
    };
    lstFiles->CellClick = [this](int row, int column, int x, int y) {
        return lstFiles_CellClick(row, column, x, y);
    };

    GroupBox1 = Place<GroupBox>(*this, "GroupBox1", 20, 469, 505, 162, kLeftBottom, 11);
    GroupBox1->SetCaption("File Details");

    FileName = Place<StaticText>(*this, "FileName", 31, 497, 485, 20, kNone, 0, GroupBox1);
    FileName->SetText("File Name:");
    Location = Place<StaticText>(*this, "Location", 31, 525, 485, 26, kNone, 1, GroupBox1);
    Location->SetText("Location:");
    Created = Place<StaticText>(*this, "Created", 31, 561, 485, 20, kNone, 2, GroupBox1);
    Created->SetText("Created On:");
    Modified = Place<StaticText>(*this, "Modified", 31, 593, 485, 20, kNone, 3, GroupBox1);
    Modified->SetText("Last Modified:");
}
