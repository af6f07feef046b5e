#include "platform/listview_p.h"

#include "platform/application.h"
#include "platform/control_p.h"
#include "platform/dragitem.h"
#include "platform/folderitem.h"
#include "platform/graphics_p.h"
#include "platform/thread.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

#include <algorithm>

namespace platform::detail {

// --- delegate ------------------------------------------------------------------------------

ListDelegate::ListDelegate(Listbox::Impl *impl, QObject *parent)
    : QStyledItemDelegate(parent)
    , d(impl)
{
}

void ListDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    Scheduler::NoYieldScope noYield;
    bool handled = false;
    if (d->view)
        handled = d->view->PaintBackground(painter, option.rect, index.row(), index.column());
    if (!handled) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem plain(option);
    plain.state &= ~QStyle::State_Selected;
    plain.backgroundBrush = QBrush();
    QStyledItemDelegate::paint(painter, plain, index);
}

// --- view ----------------------------------------------------------------------------------

ListView::ListView(Listbox::Impl *impl)
    : d(impl)
{
    setUniformRowHeights(true);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setIndentation(0);
    setSortingEnabled(false);
    setDragEnabled(false);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setAllColumnsShowFocus(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFocusPolicy(Qt::StrongFocus);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    header()->setSectionResizeMode(QHeaderView::Interactive);
    header()->setVisible(false);
}

int ListView::RowHeight() const
{
    if (model() && model()->rowCount() > 0) {
        const int h = rowHeight(model()->index(0, 0));
        if (h > 0)
            return h;
    }
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.text = QStringLiteral("Xy");
    option.features |= QStyleOptionViewItem::HasDisplay;
    const QSize size = style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this);
    return std::max(1, size.height());
}

bool ListView::PaintBackground(QPainter *painter, const QRect &rect, int row, int column) const
{
    auto handler = d->owner->CellBackgroundPaint;
    if (!handler)
        return false;
    bool handled = false;
    PainterGraphics g(painter, rect);
    Dispatch([&] { handled = handler(g, row, column); });
    return handled;
}

void ListView::paintEvent(QPaintEvent *event)
{
    Scheduler::NoYieldScope noYield;
    QTreeView::paintEvent(event);
    if (!d->owner->CellBackgroundPaint)
        return;
    // The rows below the last one: the painter carries on with the row numbers that follow.
    const int count = model()->rowCount();
    int top = 0;
    if (count > 0) {
        const QRect last = visualRect(model()->index(count - 1, 0));
        if (!last.isValid())
            return;
        top = last.bottom() + 1;
    }
    const int height = RowHeight();
    const QRect area = event->rect();
    QPainter painter(viewport());
    for (int y = top, row = count; y <= area.bottom(); y += height, ++row) {
        if (y + height <= area.top())
            continue;
        for (int column = 0; column < header()->count(); ++column) {
            if (header()->isSectionHidden(column))
                continue;
            const QRect cell(header()->sectionViewportPosition(column), y,
                header()->sectionSize(column), height);
            if (cell.intersects(area))
                PaintBackground(&painter, cell, row, column);
        }
    }
}

bool ListView::viewportEvent(QEvent *event)
{
    const bool result = QTreeView::viewportEvent(event);
    if (event->type() == QEvent::Resize)
        d->ApplyColumnWidths();
    return result;
}

void ListView::mousePressEvent(QMouseEvent *event)
{
    m_swallowRelease = false;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid() && d->owner->CellClick) {
        const QRect cell = visualRect(index);
        const QPoint at = event->position().toPoint() - cell.topLeft();
        auto handler = d->owner->CellClick;
        bool handled = false;
        Dispatch([&] { handled = handler(index.row(), index.column(), at.x(), at.y()); });
        if (handled) {
            m_swallowRelease = true;
            event->accept();
            return;
        }
    }
    QTreeView::mousePressEvent(event);
}

void ListView::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_swallowRelease) {
        m_swallowRelease = false;
        event->accept();
        return;
    }
    QTreeView::mouseReleaseEvent(event);
}

void ListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    QTreeView::mouseDoubleClickEvent(event);
    if (d->owner->DoubleClick)
        Dispatch(d->owner->DoubleClick);
}

std::vector<std::string> ListView::AcceptedPaths(const QMimeData *mime) const
{
    std::vector<std::string> paths;
    if (!mime || !mime->hasUrls())
        return paths;
    for (const QUrl &url : mime->urls()) {
        if (!url.isLocalFile())
            continue;
        const QString local = url.toLocalFile();
        const QFileInfo info(local);
        if (!info.exists() && !info.isSymLink())
            continue;
        if (d->AcceptsDrop(info.isDir(), info.suffix().toStdString())) {
            // Keep the path as given: a dropped link is the link, not what it points to.
            std::string path = local.toStdString();
            while (path.size() > 1 && path.back() == '/')
                path.pop_back();
            paths.push_back(path);
        }
    }
    return paths;
}

void ListView::dragEnterEvent(QDragEnterEvent *event)
{
    if (!AcceptedPaths(event->mimeData()).empty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void ListView::dragMoveEvent(QDragMoveEvent *event)
{
    if (!AcceptedPaths(event->mimeData()).empty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void ListView::dropEvent(QDropEvent *event)
{
    const std::vector<std::string> paths = AcceptedPaths(event->mimeData());
    if (paths.empty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    int action = 1;
    if (event->dropAction() == Qt::MoveAction)
        action = 2;
    else if (event->dropAction() == Qt::LinkAction)
        action = 3;
    d->DeliverLater([paths, action](Listbox::Impl &list) {
        if (!list.owner->DropObject)
            return;
        std::vector<Ref<FolderItem>> items;
        for (const std::string &p : paths)
            items.push_back(FolderItem::FromNativePath(p));
        auto drag = New<DragItem>(std::move(items));
        auto handler = list.owner->DropObject;
        Dispatch([&] { handler(drag, action); });
    });
}

} // namespace platform::detail

namespace platform {

void Listbox::Impl::DeliverLater(std::function<void(Impl &)> event)
{
    if (!view)
        return;
    std::weak_ptr<Control> weak = owner->weak_from_this();
    QMetaObject::invokeMethod(
        view.data(),
        [weak, event = std::move(event)] {
            auto alive = weak.lock(); // the handler may drop every other reference to the list
            if (!alive || detail::ControlCore::Of(*alive).gone)
                return;
            event(*static_cast<Listbox &>(*alive).m_impl);
        },
        Qt::QueuedConnection);
}

} // namespace platform
