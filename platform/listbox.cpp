#include "platform/listbox.h"

#include "platform/control_p.h"
#include "platform/exceptions.h"
#include "platform/listbox_p.h"
#include "platform/listview_p.h"

#include <QHeaderView>
#include <QItemSelectionModel>

#include <algorithm>
#include <cctype>
#include <climits>
#include <iterator>
#include <utility>

namespace platform {

namespace {

std::string Lower(std::string s)
{
    for (char &c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

using detail::TextStore;

Listbox::Listbox()
    : m_impl(std::make_unique<Impl>())
{
    Impl &d = *m_impl;
    d.owner = this;
    d.headings.resize(1);
    d.columnTypes.resize(1, TypeDefault);
    d.cellFlags.resize(1);
    d.cellTags.resize(1);
    auto *view = new detail::ListView(&d);
    auto *model = new detail::ListModel(&d, view);
    view->setModel(model);
    view->setItemDelegate(new detail::ListDelegate(&d, view));
    d.view = view;
    d.model = model;
    d.flushTimer.setSingleShot(true);
    QObject::connect(&d.flushTimer, &QTimer::timeout, [this] { m_impl->Flush(); });
    QObject::connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, [this] {
        m_impl->selectedRunsKnown = false;
        m_impl->FireChange();
    });
    QObject::connect(
        model, &QAbstractItemModel::modelReset, [this] { m_impl->selectedRunsKnown = false; });
    QObject::connect(
        view->header(), &QHeaderView::sectionResized, [this] { m_impl->UserResizedColumns(); });
    detail::ControlCore::Of(*this).Attach(view);
}

Listbox::~Listbox()
{
    // The view and model read the storage: they go first.
    if (auto *view = m_impl->view.data()) {
        view->disconnect();
        if (view->selectionModel())
            view->selectionModel()->disconnect();
        view->header()->disconnect();
        delete view;
    }
}

Listbox::Impl &Listbox::Checked(std::source_location where) const
{
    detail::ControlCore::Live(*this, where);
    return *m_impl;
}

int Listbox::ColumnCount() const { return Checked().columns; }

void Listbox::SetColumnCount(int count)
{
    Impl &d = Checked();
    if (count < 1)
        throw OutOfBoundsException(
            "a list needs at least one column, not " + std::to_string(count));
    if (count == d.columns)
        return;
    auto change = [&d, count] {
        detail::ChunkedArray<TextStore::Handle, 13> cells;
        cells.Grow(std::size_t(d.rowCount) * std::size_t(count));
        const int keep = std::min(count, d.columns);
        for (int r = 0; r < d.rowCount; ++r) {
            for (int c = 0; c < keep; ++c)
                cells[std::size_t(r) * std::size_t(count) + std::size_t(c)]
                    = d.cells[std::size_t(r) * std::size_t(d.columns) + std::size_t(c)];
        }
        d.cells = std::move(cells);
        d.columns = count;
        d.headings.resize(std::size_t(count));
        d.columnTypes.resize(std::size_t(count), TypeDefault);
        d.cellFlags.resize(std::size_t(count));
        d.cellTags.resize(std::size_t(count));
    };
    if (d.model)
        d.model->ResetWith(change);
    else
        change();
    d.ApplyColumnWidths();
}

bool Listbox::HasHeading() const
{
    const Impl &d = Checked();
    return d.view && !d.view->header()->isHidden();
}

void Listbox::SetHasHeading(bool on)
{
    if (const Impl &d = Checked(); d.view)
        d.view->header()->setVisible(on);
}

std::string Listbox::Heading(int column) const
{
    const Impl &d = Checked();
    d.CheckColumn(column, "Heading");
    return d.headings[std::size_t(column)];
}

void Listbox::SetHeading(int column, const std::string &text)
{
    Impl &d = Checked();
    d.CheckColumn(column, "Heading");
    d.headings[std::size_t(column)] = text;
    if (d.model)
        d.model->NotifyHeading(column);
}

std::string Listbox::ColumnWidths() const { return Checked().widthsText; }

void Listbox::SetColumnWidths(const std::string &widths)
{
    Impl &d = Checked();
    d.widthsText = widths;
    d.ApplyColumnWidths();
}

int Listbox::ColumnWidth(int column) const
{
    const Impl &d = Checked();
    d.CheckColumn(column, "ColumnWidth");
    return d.view ? d.view->header()->sectionSize(column) : 0;
}

int Listbox::ColumnType(int column) const
{
    const Impl &d = Checked();
    d.CheckColumn(column, "ColumnType");
    return d.columnTypes[std::size_t(column)];
}

void Listbox::SetColumnType(int column, int type)
{
    Impl &d = Checked();
    d.CheckColumn(column, "ColumnType");
    d.columnTypes[std::size_t(column)] = type;
    if (d.view)
        d.view->viewport()->update();
}

bool Listbox::Hierarchical() const { return Checked().hierarchical; }
void Listbox::SetHierarchical(bool on) { Checked().hierarchical = on; }
int Listbox::SelectionType() const { return Checked().selectionType; }

void Listbox::SetSelectionType(int type)
{
    Impl &d = Checked();
    d.selectionType = type;
    if (d.view)
        d.view->setSelectionMode(
            type == 1 ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
}

void Listbox::AddRow(const std::string &text) { Checked().AppendRow(&text, 1); }

void Listbox::AddRow(const std::vector<std::string> &cellTexts)
{
    Checked().AppendRow(cellTexts.data(), cellTexts.size());
}

int Listbox::LastIndex() const { return Checked().lastIndex; }
int Listbox::ListCount() const { return Checked().rowCount; }

void Listbox::DeleteAllRows()
{
    Impl &d = Checked();
    const bool hadSelection = SelCount() > 0;
    auto change = [&d] {
        d.flushTimer.stop();
        d.rowCount = 0;
        d.shownRows = 0;
        d.lastIndex = -1;
        d.texts.Clear();
        d.cells.Clear();
        for (auto &f : d.cellFlags)
            f.Clear();
        for (auto &t : d.cellTags)
            t.Clear();
        d.rowTags.Clear();
        d.rowPictures.Clear();
        d.pictures.clear();
        d.pixmaps.clear();
        d.pixmapTransparent.clear();
        d.objects.clear();
    };
    if (d.model)
        d.model->ResetWith(change);
    else
        change();
    if (hadSelection)
        d.FireChange(); // a reset clears the selection without a signal
}

std::string Listbox::Cell(int row, int column) const
{
    const Impl &d = Checked();
    d.CheckCell(row, column, "Cell");
    return std::string(d.CellText(row, column));
}

void Listbox::SetCell(int row, int column, const std::string &text)
{
    Impl &d = Checked();
    d.CheckCell(row, column, "Cell");
    d.cells[std::size_t(row) * std::size_t(d.columns) + std::size_t(column)]
        = d.StoreText(row, column, text);
    d.CellChanged(row, column);
}

Variant Listbox::CellTag(int row, int column) const
{
    const Impl &d = Checked();
    d.CheckCell(row, column, "CellTag");
    const auto &tags = d.cellTags[std::size_t(column)];
    return std::size_t(row) < tags.Size() ? d.FromSlot(tags[std::size_t(row)]) : Variant();
}

void Listbox::SetCellTag(int row, int column, const Variant &tag)
{
    Impl &d = Checked();
    d.CheckCell(row, column, "CellTag");
    auto &tags = d.cellTags[std::size_t(column)];
    tags.Grow(std::size_t(row) + 1);
    tags[std::size_t(row)] = d.ToSlot(tag, tags[std::size_t(row)]);
}

Variant Listbox::RowTag(int row) const
{
    const Impl &d = Checked();
    d.CheckRow(row, "RowTag");
    return std::size_t(row) < d.rowTags.Size() ? d.FromSlot(d.rowTags[std::size_t(row)])
                                               : Variant();
}

void Listbox::SetRowTag(int row, const Variant &tag)
{
    Impl &d = Checked();
    d.CheckRow(row, "RowTag");
    d.rowTags.Grow(std::size_t(row) + 1);
    d.rowTags[std::size_t(row)] = d.ToSlot(tag, d.rowTags[std::size_t(row)]);
}

int Listbox::CellType(int row, int column) const
{
    const Impl &d = Checked();
    d.CheckCell(row, column, "CellType");
    return d.Flags(row, column) & detail::CellTypeMask;
}

void Listbox::SetCellType(int row, int column, int type)
{
    Impl &d = Checked();
    d.CheckCell(row, column, "CellType");
    uint8_t &flags = d.FlagsForWrite(row, column);
    flags = uint8_t((flags & ~detail::CellTypeMask) | (type & detail::CellTypeMask));
    d.CellChanged(row, column);
}

bool Listbox::CellCheck(int row, int column) const
{
    const Impl &d = Checked();
    d.CheckCell(row, column, "CellCheck");
    return d.Flags(row, column) & detail::CellChecked;
}

void Listbox::SetCellCheck(int row, int column, bool checked)
{
    Impl &d = Checked();
    d.CheckCell(row, column, "CellCheck");
    uint8_t &flags = d.FlagsForWrite(row, column);
    flags = checked ? uint8_t(flags | detail::CellChecked) : uint8_t(flags & ~detail::CellChecked);
    d.CellChanged(row, column);
}

Ref<Picture> Listbox::RowPicture(int row) const
{
    const Impl &d = Checked();
    d.CheckRow(row, "RowPicture");
    if (std::size_t(row) >= d.rowPictures.Size() || !d.rowPictures[std::size_t(row)])
        return nullptr;
    return d.pictures[d.rowPictures[std::size_t(row)] - 1];
}

void Listbox::SetRowPicture(int row, const Ref<Picture> &picture)
{
    Impl &d = Checked();
    d.CheckRow(row, "RowPicture");
    uint32_t at = 0;
    if (picture) {
        // Rows share their pictures; most lists use one or two.
        auto it = std::find(d.pictures.begin(), d.pictures.end(), picture);
        if (it == d.pictures.end()) {
            d.pictures.push_back(picture);
            d.pixmaps.emplace_back();
            d.pixmapTransparent.push_back(-1);
            it = d.pictures.end() - 1;
        }
        at = uint32_t(it - d.pictures.begin()) + 1;
    }
    d.rowPictures.Grow(std::size_t(row) + 1);
    d.rowPictures[std::size_t(row)] = at;
    d.CellChanged(row, 0);
}

bool Listbox::Selected(int row) const
{
    const Impl &d = Checked();
    d.CheckRow(row, "Selected");
    if (row >= d.shownRows || !d.view)
        return false;
    const auto &runs = d.SelectedRuns();
    // The last run that begins at or before the row.
    auto it = std::upper_bound(runs.begin(), runs.end(), std::pair(row, INT_MAX));
    return it != runs.begin() && std::prev(it)->second >= row;
}

void Listbox::SetSelected(int row, bool selected)
{
    Impl &d = Checked();
    d.CheckRow(row, "Selected");
    d.Flush();
    if (!d.view)
        return;
    const QItemSelection range(d.model->index(row, 0), d.model->index(row, d.columns - 1));
    QItemSelectionModel::SelectionFlags how = QItemSelectionModel::Deselect;
    if (selected)
        how = d.selectionType == 1 ? QItemSelectionModel::Select
                                   : QItemSelectionModel::ClearAndSelect;
    d.view->selectionModel()->select(range, how | QItemSelectionModel::Rows);
}

const std::vector<std::pair<int, int>> &Listbox::Impl::SelectedRuns() const
{
    if (selectedRunsKnown)
        return selectedRuns;
    std::vector<std::pair<int, int>> runs;
    if (view) {
        for (const QItemSelectionRange &r : view->selectionModel()->selection())
            runs.emplace_back(r.top(), r.bottom());
    }
    std::sort(runs.begin(), runs.end());
    selectedRuns.clear();
    for (const auto &run : runs) {
        if (!selectedRuns.empty() && run.first <= selectedRuns.back().second + 1)
            selectedRuns.back().second = std::max(selectedRuns.back().second, run.second);
        else
            selectedRuns.push_back(run);
    }
    selectedRunsKnown = true;
    return selectedRuns;
}

int Listbox::SelCount() const
{
    const Impl &d = Checked();
    if (!d.view)
        return 0;
    int n = 0;
    for (const auto &[first, last] : d.SelectedRuns())
        n += last - first + 1;
    return n;
}

int Listbox::ListIndex() const
{
    const Impl &d = Checked();
    if (!d.view)
        return -1;
    const auto &runs = d.SelectedRuns();
    return runs.empty() ? -1 : runs.front().first;
}

void Listbox::SetListIndex(int row)
{
    Impl &d = Checked();
    if (row == -1) {
        if (d.view)
            d.view->selectionModel()->clearSelection();
        return;
    }
    d.CheckRow(row, "ListIndex");
    d.Flush();
    if (!d.view)
        return;
    d.view->selectionModel()->setCurrentIndex(
        d.model->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

bool Listbox::Impl::AcceptsDrop(bool isFolder, const std::string &suffix) const
{
    if (dropAny || (isFolder && dropFolders))
        return true;
    if (isFolder)
        return false;
    return dropFiles
        || std::find(dropExtensions.begin(), dropExtensions.end(), Lower(suffix))
        != dropExtensions.end();
}

void Listbox::AcceptFileDrop(const std::string &fileTypeName)
{
    FileType type;
    type.Name = fileTypeName;
    AcceptFileDrop(type);
}

void Listbox::AcceptFileDrop(const FileType &type)
{
    Impl &d = Checked();
    const std::string name = Lower(type.Name);
    if (name == "special/any" || type.MacType == "????")
        d.dropAny = true;
    else if (name == "special/folder" || type.MacType == "fold")
        d.dropFolders = true;
    else if (type.Extensions.empty())
        d.dropFiles = true;
    for (std::string ext : type.Extensions) {
        ext = Lower(ext);
        if (!ext.empty() && ext.front() == '.')
            ext.erase(0, 1);
        d.dropExtensions.push_back(ext);
    }
    if (d.view) {
        d.view->setAcceptDrops(true);
        d.view->viewport()->setAcceptDrops(true);
        d.view->setDropIndicatorShown(false);
    }
}

} // namespace platform
