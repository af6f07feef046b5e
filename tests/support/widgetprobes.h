#pragma once

#include "platform/graphics.h"
#include "platform/listbox.h"
#include "platform/window.h"

#include <memory>
#include <string>
#include <vector>

namespace platform::testing {

/// Resizes the window as the user does, by its frame, to a content area of this size; the
/// window's resize events follow as Qt delivers them.
void DragFrameTo(const Window &w, int contentWidth, int contentHeight);

/// The rows the list's view shows: it hears of appended rows in batches, so this may lag behind
/// ListCount for a moment.
int RowsInView(const Listbox &list);

/// Clicks the middle of a cell of a shown row, as the user does; with Ctrl held when `control`.
void ClickCell(const Listbox &list, int row, int column, bool control = false);

/// Drags the files and folders at these Linux paths onto the middle of the list and drops them,
/// as a file manager does: one payload of their file URLs, in this order. True when the list
/// accepted the drag; the drop itself is delivered at a later turn of the event loop.
bool DropFiles(const Listbox &list, const std::vector<std::string> &paths);

/// A left click in the middle of a shown cell, through the window system's input queue as a
/// real click comes (modal blocking applies, the press reaches the cell as Qt routes it).
void ClickCellThroughWindow(const Listbox &list, int row, int column, bool control = false);

/// A left click on the check box of a shown cell, through the window system.
void ClickCheckBoxThroughWindow(const Listbox &list, int row, int column);

/// A left click in the middle of a control (a push button), through the window system.
void ClickThroughWindow(const Control &control);

/// Whether the list takes a drag of these files and folders (Linux paths) as a file manager
/// offers them, as local file URLs.
bool DragEnterAccepted(const Listbox &list, const std::vector<std::string> &paths);

/// The list's rows as they are drawn on screen now, read by the pixel.
class ListShot
{
public:
    explicit ListShot(const Listbox &list);
    ~ListShot();
    ListShot(const ListShot &) = delete;
    ListShot &operator=(const ListShot &) = delete;

    int RowHeight() const;
    int CellWidth(int column) const;
    /// The colour at (x, y) inside the cell of `row` and `column`, counted from the cell's
    /// top-left corner; rows from the list's count on are the empty positions below its last row.
    Color CellPixel(int row, int column, int x, int y) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace platform::testing
