#include "platform/listbox.h"

#include "platform/application.h"
#include "platform/exceptions.h"
#include "platform/folderitem.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "tests/support/testsupport.h"
#include "tests/support/widgetprobes.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QMimeData>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTreeView>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace platform;

namespace {

constexpr int kWaitMs = 5000;

class ListWindow : public Window
{
public:
    Ref<Listbox> lstFiles;

protected:
    void Layout() override { SetSize(600, 400); }
    void CreateControls() override
    {
        lstFiles = New<Listbox>();
        AddControl("lstFiles", lstFiles);
        lstFiles->SetBounds(10, 10, 580, 300);
        lstFiles->SetLocks(true, true, true, true);
        lstFiles->SetColumnCount(4);
        lstFiles->SetHasHeading(true);
        lstFiles->SetSelectionType(1);
    }
};

class ListboxTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        window = MakeWindow<ListWindow>();
        list = window->lstFiles;
        view = static_cast<QTreeView *>(list->NativeHandle());
    }
    void TearDown() override { CloseAllWindows(); }

    /// Rows as the loader writes them.
    void AddFileRows(int n)
    {
        for (int i = 0; i < n; ++i) {
            list->AddRow("");
            const int row = list->LastIndex();
            list->SetCell(row, 0, "file" + std::to_string(i) + ".txt");
            list->SetCell(row, 1, "<data>");
            list->SetCell(row, 2, std::string(64, char('A' + i % 6)));
            list->SetCellTag(row, 0, int32_t(100 + i));
            list->SetCellType(row, 3, Listbox::TypeCheckbox);
            list->SetCellCheck(row, 3, i % 2 == 1);
            list->SetRowTag(row, "Disk:Users:me:file" + std::to_string(i) + ".txt");
        }
    }
    bool ViewHasAllRows() { return view->model()->rowCount() == list->ListCount(); }
    /// A real click on the check box of the cell, as the user gives it.
    void ClickCheckBox(int row, int column)
    {
        QStyleOptionViewItem option;
        option.initFrom(view);
        option.rect = view->visualRect(view->model()->index(row, column));
        option.features |= QStyleOptionViewItem::HasCheckIndicator;
        option.checkState = Qt::Checked;
        const QRect box
            = view->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, view);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, box.center());
    }
    /// Turns the event loop until a call posted now has run: whatever was posted before it has
    /// been delivered.
    static bool EventsPostedSoFarDelivered()
    {
        bool sentinel = false;
        QMetaObject::invokeMethod(
            qApp, [&] { sentinel = true; }, Qt::QueuedConnection);
        return ProcessEventsUntil([&] { return sentinel; }, kWaitMs);
    }

    Ref<ListWindow> window;
    Ref<Listbox> list;
    QTreeView *view = nullptr;
};

struct Point3
{
    int x, y, z;
};

} // namespace

TEST_F(ListboxTest, Rows_AddedAndRead)
{
    EXPECT_EQ(list->ListCount(), 0);
    EXPECT_EQ(list->LastIndex(), -1);
    AddFileRows(3);
    list->AddRow(std::vector<std::string> { "a", "b", "c", "d", "dropped" });
    EXPECT_EQ(list->ListCount(), 4);
    EXPECT_EQ(list->LastIndex(), 3);
    EXPECT_EQ(list->Cell(0, 0), "file0.txt");
    EXPECT_EQ(list->Cell(2, 1), "<data>");
    EXPECT_EQ(list->Cell(1, 2), std::string(64, 'B'));
    EXPECT_EQ(list->Cell(0, 3), "");
    EXPECT_EQ(list->Cell(3, 3), "d");

    list->SetCell(1, 0, "Grüße, 世界 and a rather long name.txt");
    EXPECT_EQ(list->Cell(1, 0), "Grüße, 世界 and a rather long name.txt");
    list->SetCell(1, 0, "short");
    EXPECT_EQ(list->Cell(1, 0), "short");
    const std::string big(3 << 20, 'x'); // larger than the store's blocks
    list->SetCell(2, 2, big);
    EXPECT_EQ(list->Cell(2, 2), big);
    EXPECT_EQ(list->Cell(2, 0), "file2.txt");

    ASSERT_TRUE(ProcessEventsUntil([&] { return ViewHasAllRows(); }, kWaitMs));
    EXPECT_EQ(
        view->model()->data(view->model()->index(1, 0)).toString(), QString::fromUtf8("short"));

    list->DeleteAllRows();
    EXPECT_EQ(list->ListCount(), 0);
    EXPECT_EQ(list->LastIndex(), -1);
    EXPECT_EQ(view->model()->rowCount(), 0);
}

TEST_F(ListboxTest, Rows_ManyPastTheFirstBlocks_EveryValueReadsBackAfterEachGrowth)
{
    // The storage starts small and grows by copying its first parts, then by adding whole ones:
    // enough rows, long texts and tags to pass every kind of growth, twice (after emptying).
    constexpr int kRows = 20000;
    auto name = [](int i) { return "file " + std::to_string(i) + " with a longer name.txt"; };
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        list->DeleteAllRows();
        for (int i = 0; i < kRows; ++i) {
            list->AddRow(std::vector<std::string> {
                name(i), "<data>", std::string(64, char('A' + i % 26)) });
            list->SetCellTag(i, 0, int32_t(i));
            list->SetCellTag(i, 1, name(i));
            list->SetCellCheck(i, 3, i % 3 == 0);
            list->SetRowTag(i, i % 2 == 0);
            if (i == kRows / 2)
                list->SetCell(i, 3, std::string((1 << 20) + 10, 'z')); // more than a whole block
        }
        ASSERT_EQ(list->ListCount(), kRows);
        for (int i = 0; i < kRows; ++i) {
            ASSERT_EQ(list->Cell(i, 0), name(i)) << i;
            ASSERT_EQ(list->Cell(i, 1), "<data>") << i;
            ASSERT_EQ(list->Cell(i, 2), std::string(64, char('A' + i % 26))) << i;
            ASSERT_EQ(list->CellTag(i, 0).As<int32_t>(), i) << i;
            ASSERT_EQ(list->CellTag(i, 1).As<std::string>(), name(i)) << i;
            ASSERT_EQ(list->CellCheck(i, 3), i % 3 == 0) << i;
            ASSERT_EQ(list->RowTag(i).As<bool>(), i % 2 == 0) << i;
        }
        EXPECT_EQ(list->Cell(kRows / 2, 3), std::string((1 << 20) + 10, 'z'));
    }
}

TEST_F(ListboxTest, Tags_ReadBackWithTheirType)
{
    AddFileRows(2);
    auto folder = FolderItem::FromNativePath("/tmp");
    list->SetCellTag(1, 2, Point3 { 1, 2, 3 });
    list->SetCellTag(1, 1, folder);
    list->SetRowTag(0, 2.5);
    list->SetCellTag(0, 3, true);

    EXPECT_EQ(list->CellTag(0, 0).As<int32_t>(), 100);
    EXPECT_EQ(list->CellTag(1, 0).As<int64_t>(), 101);
    EXPECT_EQ(list->RowTag(1).As<std::string>(), "Disk:Users:me:file1.txt");
    EXPECT_EQ(list->CellTag(1, 2).As<Point3>().z, 3);
    EXPECT_EQ(list->CellTag(1, 1).As<Ref<FolderItem>>().Raw(), folder.Raw());
    EXPECT_DOUBLE_EQ(list->RowTag(0).As<double>(), 2.5);
    EXPECT_TRUE(list->CellTag(0, 3).As<bool>());

    EXPECT_THROW(list->CellTag(0, 0).As<std::string>(), TypeMismatchException);
    EXPECT_THROW(list->RowTag(1).As<int32_t>(), TypeMismatchException);
    EXPECT_THROW(list->CellTag(1, 2).As<std::string>(), TypeMismatchException);
    EXPECT_THROW(list->CellTag(1, 2).As<int>(), TypeMismatchException);

    // A cell without a tag reads as nil, which gives the type's default.
    EXPECT_TRUE(list->CellTag(0, 1).IsNil());
    EXPECT_EQ(list->CellTag(0, 1).As<int32_t>(), 0);
    EXPECT_EQ(list->CellTag(0, 1).As<std::string>(), "");

    // A tag replaced by one of another kind.
    list->SetCellTag(1, 2, "now a text");
    EXPECT_EQ(list->CellTag(1, 2).As<std::string>(), "now a text");
    list->SetCellTag(1, 2, nullptr);
    EXPECT_TRUE(list->CellTag(1, 2).IsNil());
}

TEST_F(ListboxTest, Checks_ColumnAndCellTypes)
{
    AddFileRows(3);
    list->SetCellType(0, 3, Listbox::TypeDefault);
    EXPECT_EQ(list->CellType(1, 3), Listbox::TypeCheckbox);
    EXPECT_FALSE(list->CellCheck(0, 3));
    EXPECT_TRUE(list->CellCheck(1, 3));
    list->SetCellCheck(0, 3, true);
    EXPECT_TRUE(list->CellCheck(0, 3));
    ASSERT_TRUE(ProcessEventsUntil([&] { return ViewHasAllRows(); }, kWaitMs));

    QAbstractItemModel *model = view->model();
    // Row 0 has no box of its own until the column is made a check-box column.
    EXPECT_FALSE(model->data(model->index(0, 3), Qt::CheckStateRole).isValid());
    EXPECT_EQ(model->data(model->index(1, 3), Qt::CheckStateRole).toInt(), Qt::Checked);
    list->SetColumnType(3, Listbox::TypeCheckbox);
    EXPECT_EQ(list->ColumnType(3), Listbox::TypeCheckbox);
    EXPECT_EQ(model->data(model->index(0, 3), Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_TRUE(model->flags(model->index(0, 3)) & Qt::ItemIsUserCheckable);
    EXPECT_FALSE(model->flags(model->index(0, 2)) & Qt::ItemIsUserCheckable);
}

TEST_F(ListboxTest, CellAction_OnlyForTheUsersChange)
{
    AddFileRows(3);
    list->SetColumnType(3, Listbox::TypeCheckbox);
    std::vector<std::pair<int, int>> actions;
    std::vector<bool> seenState;
    list->CellAction = [&](int row, int column) {
        actions.emplace_back(row, column);
        seenState.push_back(list->CellCheck(row, column));
    };
    list->SetCellCheck(2, 3, true);
    list->SetCellCheck(0, 3, false);
    ASSERT_TRUE(EventsPostedSoFarDelivered());
    EXPECT_TRUE(actions.empty());

    ASSERT_TRUE(ProcessEventsUntil([&] { return ViewHasAllRows(); }, kWaitMs));
    // The view's own path for a click on a box.
    QAbstractItemModel *model = view->model();
    ASSERT_TRUE(model->setData(model->index(0, 3), Qt::Checked, Qt::CheckStateRole));
    ASSERT_TRUE(ProcessEventsUntil([&] { return !actions.empty(); }, kWaitMs));
    EXPECT_EQ(actions[0], std::make_pair(0, 3));
    EXPECT_TRUE(seenState[0]); // the handler sees the new state

    // A real click on the box of row 1.
    window->Show();
    ClickCheckBox(1, 3);
    ASSERT_TRUE(ProcessEventsUntil([&] { return actions.size() == 2; }, kWaitMs));
    EXPECT_EQ(actions[1], std::make_pair(1, 3));
    EXPECT_FALSE(list->CellCheck(1, 3));
    EXPECT_FALSE(seenState[1]);
    ASSERT_TRUE(EventsPostedSoFarDelivered());
    EXPECT_EQ(actions.size(), 2u);
}

TEST_F(ListboxTest, CellAction_RealClick_RunsAfterTheClickHandlingAndMayResetTheList)
{
    AddFileRows(3);
    window->Show();
    ASSERT_TRUE(ProcessEventsUntil([&] { return ViewHasAllRows(); }, kWaitMs));
    bool clickReturned = false;
    std::vector<std::pair<int, int>> actions;
    std::vector<bool> afterClick;
    list->CellAction = [&](int row, int column) {
        actions.emplace_back(row, column);
        afterClick.push_back(clickReturned);
        // As a loader does: the model is reset and refilled from the handler.
        list->DeleteAllRows();
        AddFileRows(2);
    };
    ClickCheckBox(1, 3);
    clickReturned = true;
    ASSERT_TRUE(ProcessEventsUntil([&] { return !actions.empty(); }, kWaitMs));
    ASSERT_TRUE(EventsPostedSoFarDelivered());
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0], std::make_pair(1, 3));
    EXPECT_TRUE(afterClick[0]);
    ASSERT_TRUE(ProcessEventsUntil([&] { return ViewHasAllRows(); }, kWaitMs));
    EXPECT_EQ(view->model()->rowCount(), 2);
}

TEST_F(ListboxTest, CellAction_ListEmptiedBeforeDelivery_NotDelivered)
{
    AddFileRows(3);
    window->Show();
    ASSERT_TRUE(ProcessEventsUntil([&] { return ViewHasAllRows(); }, kWaitMs));
    int actions = 0;
    list->CellAction = [&](int, int) { ++actions; };
    ClickCheckBox(1, 3);
    list->DeleteAllRows(); // row 1 is another file now
    AddFileRows(3);
    ASSERT_TRUE(EventsPostedSoFarDelivered());
    EXPECT_EQ(actions, 0);
}

TEST_F(ListboxTest, Selection_CountsIndexAndChange)
{
    AddFileRows(5);
    int changes = 0;
    list->Change = [&] { ++changes; };
    EXPECT_EQ(list->SelCount(), 0);
    EXPECT_EQ(list->ListIndex(), -1);

    list->SetSelected(1, true);
    list->SetSelected(3, true);
    EXPECT_EQ(list->SelCount(), 2);
    EXPECT_EQ(list->ListIndex(), 1);
    for (int row = 0; row < 5; ++row)
        EXPECT_EQ(list->Selected(row), row == 1 || row == 3) << row;
    EXPECT_GE(changes, 2);

    list->SetListIndex(4);
    EXPECT_EQ(list->SelCount(), 1);
    EXPECT_TRUE(list->Selected(4));
    list->SetSelected(4, false);
    EXPECT_EQ(list->SelCount(), 0);

    list->SetSelectionType(0);
    list->SetSelected(0, true);
    list->SetSelected(2, true);
    EXPECT_EQ(list->SelCount(), 1);
    EXPECT_EQ(list->ListIndex(), 2);

    changes = 0;
    list->DeleteAllRows();
    EXPECT_EQ(list->SelCount(), 0);
    EXPECT_EQ(changes, 1);
    list->SetListIndex(-1);
    EXPECT_EQ(list->ListIndex(), -1);
}

TEST_F(ListboxTest, Selected_ManyRunsThenClicksAndAReset_ReadsTheSelectionAsItIsNow)
{
    AddFileRows(50);
    window->Show();
    ASSERT_TRUE(ProcessEventsUntil([&] { return ViewHasAllRows(); }, kWaitMs));
    auto expectSelected = [&](const std::function<bool(int)> &selected, int count) {
        for (int row = 0; row < 50; ++row)
            EXPECT_EQ(list->Selected(row), selected(row)) << row;
        EXPECT_EQ(list->SelCount(), count);
    };

    for (int row = 0; row < 50; row += 3)
        list->SetSelected(row, true);
    expectSelected([](int row) { return row % 3 == 0; }, 17);
    list->SetSelected(1, true); // joins the runs of rows 0 and 3
    expectSelected([](int row) { return row % 3 == 0 || row == 1; }, 18);

    platform::testing::ClickCell(*list, 2, 0);
    expectSelected([](int row) { return row == 2; }, 1);
    platform::testing::ClickCell(*list, 5, 0, /*control=*/true);
    expectSelected([](int row) { return row == 2 || row == 5; }, 2);

    list->SetColumnCount(3); // a reset of the model
    expectSelected([](int) { return false; }, 0);
}

TEST_F(ListboxTest, CellClick_ReportsTheCellAndCanTakeTheClick)
{
    AddFileRows(3);
    window->Show();
    ASSERT_TRUE(ProcessEventsUntil([&] { return ViewHasAllRows(); }, kWaitMs));
    std::vector<std::vector<int>> clicks;
    bool take = true;
    list->CellClick = [&](int row, int column, int x, int y) {
        clicks.push_back({ row, column, x, y });
        return take;
    };
    const QRect cell = view->visualRect(view->model()->index(2, 1));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.topLeft() + QPoint(5, 3));
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0], (std::vector<int> { 2, 1, 5, 3 }));
    EXPECT_EQ(list->SelCount(), 0);

    take = false;
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(clicks.size(), 2u);
    EXPECT_TRUE(list->Selected(2));

    int doubles = 0;
    list->DoubleClick = [&] { ++doubles; };
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(doubles, 1);
}

TEST_F(ListboxTest, ColumnWidths_TextRoundTripAndWidths)
{
    window->Show();
    struct Case
    {
        const char *text;
        std::vector<int> widths; // -1: the rest
    };
    const int avail = view->viewport()->width();
    const Case cases[] = {
        { "*, 65, 185, 60", { avail - 310, 65, 185, 60 } },
        { "100, 25%, *, 2*", { 100, int(std::lround(avail * 0.25)), -1, -1 } },
        { "50", { 50, -1, -1, -1 } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        list->SetColumnWidths(c.text);
        EXPECT_EQ(list->ColumnWidths(), c.text);
        int total = 0;
        for (int i = 0; i < 4; ++i) {
            total += list->ColumnWidth(i);
            if (c.widths[std::size_t(i)] >= 0) {
                EXPECT_EQ(list->ColumnWidth(i), c.widths[std::size_t(i)]) << i;
            }
        }
        EXPECT_EQ(total, avail);
    }
    list->SetColumnWidths("100, 25%, *, 2*");
    EXPECT_EQ(list->ColumnWidth(3), 2 * list->ColumnWidth(2) + (list->ColumnWidth(3) % 2));

    // The column-0 share follows the list's width.
    list->SetColumnWidths("*, 65, 185, 60");
    window->SetSize(800, 400);
    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return list->ColumnWidth(0) == view->viewport()->width() - 310; }, kWaitMs));

    // A column resized by the user: the text becomes the pixel widths, and reads back so.
    view->header()->resizeSection(2, 150);
    const std::string after = list->ColumnWidths();
    EXPECT_EQ(after, std::to_string(list->ColumnWidth(0)) + ", 65, 150, 60");
    list->SetColumnWidths(after);
    EXPECT_EQ(list->ColumnWidths(), after);
    EXPECT_EQ(list->ColumnWidth(2), 150);
}

TEST_F(ListboxTest, OutOfRange_RaisesOutOfBounds)
{
    AddFileRows(2);
    const std::pair<const char *, std::function<void()>> cases[] = {
        { "Cell row -1", [&] { list->Cell(-1, 0); } },
        { "Cell row past the end", [&] { list->Cell(2, 0); } },
        { "Cell column past the end", [&] { list->Cell(0, 4); } },
        { "SetCell", [&] { list->SetCell(5, 0, "x"); } },
        { "CellTag", [&] { list->CellTag(0, -1); } },
        { "SetCellTag", [&] { list->SetCellTag(2, 0, 1); } },
        { "RowTag", [&] { list->RowTag(2); } },
        { "SetRowTag", [&] { list->SetRowTag(-1, "x"); } },
        { "CellCheck", [&] { list->CellCheck(3, 3); } },
        { "SetCellCheck", [&] { list->SetCellCheck(0, 9, true); } },
        { "CellType", [&] { list->CellType(2, 0); } },
        { "Selected", [&] { list->Selected(2); } },
        { "SetSelected", [&] { list->SetSelected(-2, true); } },
        { "ListIndex", [&] { list->SetListIndex(2); } },
        { "RowPicture", [&] { list->RowPicture(2); } },
        { "Heading", [&] { list->Heading(4); } },
        { "ColumnType", [&] { list->SetColumnType(-1, 2); } },
        { "ColumnCount", [&] { list->SetColumnCount(0); } },
    };
    for (const auto &[name, call] : cases) {
        SCOPED_TRACE(name);
        EXPECT_THROW(call(), OutOfBoundsException);
    }
    list->DeleteAllRows();
    EXPECT_THROW(list->Cell(0, 0), OutOfBoundsException);
}

TEST_F(ListboxTest, ModelIndex_OutOfRange_IsInvalid)
{
    QAbstractItemModel *model = view->model();
    EXPECT_FALSE(model->index(0, 0).isValid()); // what the view asks of an empty list
    AddFileRows(2);
    ASSERT_TRUE(ProcessEventsUntil([&] { return ViewHasAllRows(); }, kWaitMs));
    EXPECT_TRUE(model->index(1, 3).isValid());
    EXPECT_FALSE(model->index(2, 0).isValid());
    EXPECT_FALSE(model->index(0, 4).isValid());
    EXPECT_FALSE(model->index(-1, 0).isValid());
    EXPECT_FALSE(model->index(0, 0, model->index(0, 0)).isValid());
    EXPECT_TRUE(view->uniformRowHeights());
}

TEST_F(ListboxTest, Headings_ShownInTheHeader)
{
    const char *headings[] = { "File Name", "Resource", "Last SHA_256", "Exempt" };
    for (int i = 0; i < 4; ++i)
        list->SetHeading(i, headings[i]);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(list->Heading(i), headings[i]);
        EXPECT_EQ(
            view->model()->headerData(i, Qt::Horizontal).toString().toStdString(), headings[i]);
    }
    EXPECT_TRUE(list->HasHeading());
    EXPECT_FALSE(view->header()->isHidden());
}

TEST_F(ListboxTest, ColumnCount_Changed_TextsOfRemainingColumnsKept)
{
    AddFileRows(2);
    list->SetColumnCount(2);
    EXPECT_EQ(list->ColumnCount(), 2);
    EXPECT_EQ(list->Cell(1, 0), "file1.txt");
    EXPECT_EQ(list->Cell(1, 1), "<data>");
    EXPECT_THROW(list->Cell(1, 2), OutOfBoundsException);
    list->SetColumnCount(5);
    EXPECT_EQ(list->Cell(1, 1), "<data>");
    EXPECT_EQ(list->Cell(1, 4), "");
    EXPECT_EQ(view->model()->columnCount(), 5);
}

TEST_F(ListboxTest, RowPicture_SharedAndReadBack)
{
    struct Plain : Picture
    {
        int Width() const override { return 16; }
        int Height() const override { return 16; }
    };
    AddFileRows(3);
    auto picture = New<Plain>();
    EXPECT_FALSE(list->RowPicture(0));
    list->SetRowPicture(0, picture);
    list->SetRowPicture(2, picture);
    EXPECT_EQ(list->RowPicture(0).Raw(), picture.Raw());
    EXPECT_EQ(list->RowPicture(2).Raw(), picture.Raw());
    EXPECT_FALSE(list->RowPicture(1));
    list->SetRowPicture(2, nullptr);
    EXPECT_FALSE(list->RowPicture(2));
}

TEST_F(ListboxTest, RowPicture_LoadedPicture_DrawnWithWhiteTransparent)
{
    platform::testing::TempFolder folder;
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::white);
    image.setPixel(3, 4, qRgb(10, 20, 30));
    ASSERT_TRUE(image.save(QString::fromStdString(folder / "Document.bmp"), "BMP"));
    auto picture = FolderItem::FromNativePath(folder / "Document.bmp")->OpenAsPicture();
    ASSERT_TRUE(picture);
    AddFileRows(1);
    list->SetRowPicture(0, picture);
    ASSERT_TRUE(ProcessEventsUntil([&] { return ViewHasAllRows(); }, kWaitMs));
    QAbstractItemModel *model = view->model();

    const QPixmap opaque = model->data(model->index(0, 0), Qt::DecorationRole).value<QPixmap>();
    ASSERT_EQ(opaque.size(), QSize(16, 16));
    EXPECT_EQ(opaque.toImage().pixelColor(0, 0).alpha(), 255);

    picture->Transparent = 1;
    const QImage shown
        = model->data(model->index(0, 0), Qt::DecorationRole).value<QPixmap>().toImage();
    EXPECT_EQ(shown.pixelColor(0, 0).alpha(), 0);
    EXPECT_EQ(shown.pixelColor(3, 4), QColor(10, 20, 30));
    EXPECT_FALSE(model->data(model->index(0, 1), Qt::DecorationRole).isValid());
}

TEST_F(ListboxTest, CellBackgroundPaint_PaintsRowsPastTheLastOne)
{
    AddFileRows(1);
    std::set<int> rows;
    std::set<int> columns;
    list->CellBackgroundPaint = [&](Graphics &g, int row, int column) {
        rows.insert(row);
        columns.insert(column);
        g.ForeColor = row % 2 == 0 ? RGB(255, 255, 255) : RGB(237, 243, 254);
        g.FillRect(0, 0, g.Width(), g.Height());
        g.ForeColor = RGB(230, 230, 230);
        g.DrawLine(g.Width() - 1, 0, g.Width() - 1, g.Height());
        g.DrawLine(0, g.Height() - 1, g.Width(), g.Height() - 1);
        return false;
    };
    list->SetColumnWidths("*, 65, 185, 60");
    window->Show();
    ASSERT_TRUE(ProcessEventsUntil([&] { return ViewHasAllRows(); }, kWaitMs));
    const QImage shot = view->viewport()->grab().toImage();
    ASSERT_FALSE(rows.empty());
    EXPECT_GE(*rows.rbegin(), 3); // several positions below the one row
    EXPECT_TRUE(rows.count(0) && rows.count(1) && rows.count(2));
    EXPECT_EQ(columns, (std::set<int> { 0, 1, 2, 3 }));

    // The stripes go on below the row: position 1 is tinted, position 2 white, with grey lines.
    const QRect first = view->visualRect(view->model()->index(0, 2));
    const int h = first.height();
    const int x = first.center().x();
    const int dpr = int(shot.devicePixelRatio());
    auto pixel = [&](int px, int py) { return QColor(shot.pixel(px * dpr, py * dpr)); };
    EXPECT_EQ(pixel(x, first.top() + h + h / 2), QColor(237, 243, 254));
    EXPECT_EQ(pixel(x, first.top() + 2 * h + h / 2), QColor(255, 255, 255));
    EXPECT_EQ(pixel(x, first.top() + 2 * h - 1), QColor(230, 230, 230));
    EXPECT_EQ(pixel(first.right(), first.top() + 2 * h + h / 2), QColor(230, 230, 230));
}

TEST_F(ListboxTest, CellBackgroundPaint_EmptyList_PaintsFromRowZero)
{
    std::set<int> rows;
    list->CellBackgroundPaint = [&](Graphics &, int row, int) {
        rows.insert(row);
        return false;
    };
    window->Show();
    view->viewport()->grab();
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(*rows.begin(), 0);
    EXPECT_GE(rows.size(), 3u);
}

TEST_F(ListboxTest, CellBackgroundPaint_YieldInside_DoesNotSwitch)
{
    AddFileRows(2);
    bool threadRan = false;
    std::vector<bool> ranDuringPaint;
    list->CellBackgroundPaint = [&](Graphics &, int, int) {
        Yield();
        ranDuringPaint.push_back(threadRan);
        return false;
    };
    window->Show();
    ASSERT_TRUE(ProcessEventsUntil([&] { return ViewHasAllRows(); }, kWaitMs));
    auto thread = std::make_shared<platform::testing::LambdaThread>([&] { threadRan = true; });
    thread->Run();
    view->viewport()->grab();
    ASSERT_FALSE(ranDuringPaint.empty());
    EXPECT_EQ(std::count(ranDuringPaint.begin(), ranDuringPaint.end(), true), 0);
    EXPECT_TRUE(ProcessEventsUntil([&] { return threadRan; }, kWaitMs));
}

TEST_F(ListboxTest, DropObject_AcceptedFiles_DeliveredInDropOrder)
{
    platform::testing::TempFolder folder;
    platform::testing::WriteFile(folder / "a.txt", "a");
    std::filesystem::create_directory(folder / "sub");
    platform::testing::WriteFile(folder / "c.txt", "c");
    QMimeData mime;
    mime.setUrls({ QUrl::fromLocalFile(QString::fromStdString(folder / "c.txt")),
        QUrl::fromLocalFile(QString::fromStdString(folder / "sub")),
        QUrl::fromLocalFile(QString::fromStdString(folder / "a.txt")),
        QUrl(QStringLiteral("https://example.com/x")) });
    std::vector<std::string> dropped;
    int drops = 0;
    list->DropObject = [&](Ref<DragItem> item, int) {
        ++drops;
        if (!item->FolderItemAvailable())
            return;
        do {
            dropped.push_back(item->FolderItem()->DisplayName());
        } while (item->NextItem());
    };
    window->Show();
    const QPoint at = view->viewport()->rect().center();
    auto drop = [&] {
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &enter);
        QDropEvent dropEvent(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &dropEvent);
        return enter.isAccepted();
    };

    // Not accepting drops yet: nothing arrives (a drop is delivered by a posted call).
    drop();
    ASSERT_TRUE(platform::testing::RunPostedCalls(kWaitMs));
    EXPECT_EQ(drops, 0);

    list->AcceptFileDrop("special/any");
    EXPECT_TRUE(drop());
    ASSERT_TRUE(ProcessEventsUntil([&] { return drops == 1; }, kWaitMs));
    const std::vector<std::string> expected = { "c.txt", "sub", "a.txt" };
    EXPECT_EQ(dropped, expected);
}

TEST_F(ListboxTest, Append_ViewHearsOfRowsLater_ListCountAtOnce)
{
    for (int i = 0; i < 1000; ++i)
        list->AddRow("row " + std::to_string(i));
    EXPECT_EQ(list->ListCount(), 1000);
    EXPECT_EQ(list->Cell(999, 0), "row 999");
    ASSERT_TRUE(ProcessEventsUntil([&] { return ViewHasAllRows(); }, kWaitMs));
    // Selecting a row the view has not heard of yet makes it hear first.
    list->AddRow("late");
    list->SetListIndex(1000);
    EXPECT_TRUE(list->Selected(1000));
    EXPECT_EQ(view->model()->rowCount(), 1001);
}
