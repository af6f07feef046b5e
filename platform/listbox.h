#pragma once

#include "platform/control.h"
#include "platform/dragitem.h"
#include "platform/filetype.h"
#include "platform/folderitem.h"
#include "platform/graphics.h"
#include "platform/ref.h"
#include "platform/variant.h"

#include <functional>
#include <memory>
#include <source_location>
#include <string>
#include <vector>

namespace platform {

namespace detail {
class ListModel;
class ListView;
class ListDelegate;
} // namespace detail

/// A list of rows and columns. Rows are numbered from 0. Every row has a text per column and may
/// carry a row tag, a cell tag per cell (values of any type), check boxes and a row picture.
/// A row or column outside the list raises OutOfBoundsException.
///
/// Rows are appended in constant time and stored compactly; the view learns of appended rows in
/// batches, at most a fraction of a second later, so a long fill does not re-lay out the view for
/// every row.
class Listbox : public Control
{
public:
    static constexpr int TypeDefault = 0;
    static constexpr int TypeNormal = 1;
    static constexpr int TypeCheckbox = 2;

    Listbox();
    ~Listbox() override;

    int ColumnCount() const;
    /// Changes the number of columns; rows keep the texts of the columns that remain.
    void SetColumnCount(int count);
    bool HasHeading() const;
    void SetHasHeading(bool on);
    std::string Heading(int column) const;
    void SetHeading(int column, const std::string &text);
    /// The widths as text: comma-separated, each a number of pixels, a percentage of the list's
    /// width ("25%") or a share of what is left ("*", "2*"); columns beyond the text share the
    /// rest. Reads back as set, or, after the user has resized a column, as the pixel widths.
    std::string ColumnWidths() const;
    void SetColumnWidths(const std::string &widths);
    int ColumnWidth(int column) const;
    int ColumnType(int column) const;
    void SetColumnType(int column, int type);
    /// Accepted for folder rows; the list shows every row at the top level.
    bool Hierarchical() const;
    void SetHierarchical(bool on);
    /// 0: one row at a time; 1: several rows (shift and control clicks).
    int SelectionType() const;
    void SetSelectionType(int type);

    /// Adds a row whose cell 0 is `text`; LastIndex is its index.
    void AddRow(const std::string &text);
    /// Adds a row with a text per column (missing columns are empty, extra texts dropped).
    void AddRow(const std::vector<std::string> &cells);
    /// The index of the row added last; -1 when none was added since the list was emptied.
    int LastIndex() const;
    int ListCount() const;
    void DeleteAllRows();

    std::string Cell(int row, int column) const;
    void SetCell(int row, int column, const std::string &text);
    Variant CellTag(int row, int column) const;
    void SetCellTag(int row, int column, const Variant &tag);
    Variant RowTag(int row) const;
    void SetRowTag(int row, const Variant &tag);
    /// The cell's own type (TypeDefault: the column's type decides).
    int CellType(int row, int column) const;
    void SetCellType(int row, int column, int type);
    /// The state of the cell's check box. Setting it from code is not a CellAction.
    bool CellCheck(int row, int column) const;
    void SetCellCheck(int row, int column, bool checked);
    Ref<Picture> RowPicture(int row) const;
    void SetRowPicture(int row, const Ref<Picture> &picture);

    bool Selected(int row) const;
    void SetSelected(int row, bool selected);
    int SelCount() const;
    /// The first selected row, -1 when none; setting it selects that row alone (-1: none).
    int ListIndex() const;
    void SetListIndex(int row);

    /// Accepts dropped files and folders of the type named (e.g. "special/any": all of them;
    /// "special/folder": folders).
    void AcceptFileDrop(const std::string &fileTypeName);
    /// Accepts dropped files of `type`: by name as above, or by its extensions.
    void AcceptFileDrop(const FileType &type);

    /// The selection changed.
    std::function<void()> Change;
    /// A mouse press on a cell, at (x, y) inside it; true when the handler has dealt with the
    /// click, so the list neither selects nor toggles anything.
    std::function<bool(int row, int column, int x, int y)> CellClick;
    /// The user changed the cell's check box (or its text). Runs when the event loop next turns,
    /// after Qt has finished with the click, so the handler may wait or reset the list; it is not
    /// run when the list was reset (emptied, its columns changed) in between.
    std::function<void(int row, int column)> CellAction;
    std::function<void()> DoubleClick;
    /// Files or folders were dropped on the list; the action is 1 copy, 2 move, 3 link.
    std::function<void(Ref<DragItem> item, int action)> DropObject;
    /// Paints a cell's background before the list draws its content. Called also for the row
    /// positions below the last row (rows from ListCount on) that the list shows. True keeps the
    /// list from drawing its own background (the selection highlight) over it.
    std::function<bool(Graphics &g, int row, int column)> CellBackgroundPaint;

private:
    friend class detail::ListModel;
    friend class detail::ListView;
    friend class detail::ListDelegate;
    struct Impl;
    /// The storage for one of the list's operations; raises once the window is gone.
    Impl &Checked(std::source_location where = std::source_location::current()) const;
    std::unique_ptr<Impl> m_impl;
};

} // namespace platform
