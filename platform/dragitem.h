#pragma once

#include "platform/folderitem.h"
#include "platform/ref.h"

#include <cstddef>
#include <vector>

namespace platform {

/// What a drop delivered: the dropped files and folders, in the order of the drag, read one at a
/// time. The current item is the first at the start; NextItem moves on.
class DragItem
{
public:
    explicit DragItem(std::vector<Ref<platform::FolderItem>> items);

    /// True when the current item is a file or folder.
    bool FolderItemAvailable() const;
    /// The current item; nil when there is none.
    Ref<platform::FolderItem> FolderItem() const;
    /// Moves to the next item; false (staying put) when there is none.
    bool NextItem();

private:
    std::vector<Ref<platform::FolderItem>> m_items;
    std::size_t m_current = 0;
};

} // namespace platform
