#include "platform/dragitem.h"

#include <utility>

namespace platform {

DragItem::DragItem(std::vector<Ref<platform::FolderItem>> items)
    : m_items(std::move(items))
{
}

bool DragItem::FolderItemAvailable() const
{
    return m_current < m_items.size() && !m_items[m_current].IsNil();
}

Ref<platform::FolderItem> DragItem::FolderItem() const
{
    return m_current < m_items.size() ? m_items[m_current] : nullptr;
}

bool DragItem::NextItem()
{
    if (m_current + 1 >= m_items.size())
        return false;
    ++m_current;
    return true;
}

} // namespace platform
