#include "tests/support/widgetprobes.h"

#include "platform/listview_p.h"
#include "platform/window_p.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QDragMoveEvent>
#include <QHeaderView>
#include <QImage>
#include <QMimeData>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QUrl>
#include <QWindow>

#include <stdexcept>

namespace platform::testing {

namespace {

detail::ListView &ViewOf(const Listbox &list)
{
    auto *view = static_cast<detail::ListView *>(list.NativeHandle());
    if (!view)
        throw std::logic_error("the list's window is gone");
    return *view;
}

} // namespace

void DragFrameTo(const Window &w, int contentWidth, int contentHeight)
{
    auto *top = static_cast<detail::WindowWidget *>(w.NativeHandle());
    if (!top)
        throw std::logic_error("the window is closed");
    top->resize(contentWidth, contentHeight + top->ChromeHeight(contentWidth));
}

int RowsInView(const Listbox &list) { return ViewOf(list).model()->rowCount(); }

namespace {

/// Clicks `widget` at `at` (its own coordinates) by way of its top-level window.
void ClickThroughWindowAt(QWidget &widget, QPoint at, Qt::KeyboardModifiers modifiers = {})
{
    QWindow *window = widget.window()->windowHandle();
    if (!window)
        throw std::logic_error("the control's window is not shown");
    QTest::mouseClick(
        window, Qt::LeftButton, modifiers, window->mapFromGlobal(widget.mapToGlobal(at)));
}

QRect ShownCell(detail::ListView &view, int row, int column)
{
    const QRect cell = view.visualRect(view.model()->index(row, column));
    if (!cell.isValid())
        throw std::out_of_range("the cell is not shown");
    return cell;
}

} // namespace

void ClickCell(const Listbox &list, int row, int column, bool control)
{
    detail::ListView &view = ViewOf(list);
    QTest::mouseClick(view.viewport(), Qt::LeftButton,
        control ? Qt::ControlModifier : Qt::KeyboardModifiers(),
        ShownCell(view, row, column).center());
}

void ClickCellThroughWindow(const Listbox &list, int row, int column, bool control)
{
    detail::ListView &view = ViewOf(list);
    ClickThroughWindowAt(*view.viewport(), ShownCell(view, row, column).center(),
        control ? Qt::ControlModifier : Qt::KeyboardModifiers());
}

void ClickCheckBoxThroughWindow(const Listbox &list, int row, int column)
{
    detail::ListView &view = ViewOf(list);
    QStyleOptionViewItem option;
    option.initFrom(&view);
    option.rect = ShownCell(view, row, column);
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    option.checkState = Qt::Checked;
    const QRect box
        = view.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, &view);
    ClickThroughWindowAt(*view.viewport(), box.center());
}

void ClickThroughWindow(const Control &control)
{
    auto *widget = static_cast<QWidget *>(control.NativeHandle());
    if (!widget)
        throw std::logic_error("the control's window is gone");
    ClickThroughWindowAt(*widget, widget->rect().center());
}

bool DragEnterAccepted(const Listbox &list, const std::vector<std::string> &paths)
{
    detail::ListView &view = ViewOf(list);
    QMimeData mime;
    QList<QUrl> urls;
    for (const std::string &p : paths)
        urls.push_back(QUrl::fromLocalFile(QString::fromStdString(p)));
    mime.setUrls(urls);
    const QPoint at = view.viewport()->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &enter);
    return enter.isAccepted();
}

struct ListShot::Impl
{
    QImage image;
    int top = 0; // of row 0, in the viewport
    int rowHeight = 1;
    std::vector<int> left;
    std::vector<int> width;
};

ListShot::ListShot(const Listbox &list)
    : m_impl(std::make_unique<Impl>())
{
    detail::ListView &view = ViewOf(list);
    Impl &d = *m_impl;
    d.image = view.viewport()->grab().toImage();
    d.rowHeight = view.RowHeight();
    if (view.model()->rowCount() > 0)
        d.top = view.visualRect(view.model()->index(0, 0)).top();
    for (int c = 0; c < view.header()->count(); ++c) {
        d.left.push_back(view.header()->sectionViewportPosition(c));
        d.width.push_back(view.header()->sectionSize(c));
    }
}

ListShot::~ListShot() = default;

int ListShot::RowHeight() const { return m_impl->rowHeight; }

int ListShot::CellWidth(int column) const { return m_impl->width.at(std::size_t(column)); }

Color ListShot::CellPixel(int row, int column, int x, int y) const
{
    const Impl &d = *m_impl;
    const int px = d.left.at(std::size_t(column)) + x;
    const int py = d.top + row * d.rowHeight + y;
    const qreal dpr = d.image.devicePixelRatio();
    const QPoint at(int(px * dpr), int(py * dpr));
    if (!d.image.rect().contains(at))
        throw std::out_of_range("the pixel is outside the list's view");
    const QColor c = d.image.pixelColor(at);
    return RGB(c.red(), c.green(), c.blue());
}

bool DropFiles(const Listbox &list, const std::vector<std::string> &paths)
{
    detail::ListView &view = ViewOf(list);
    QMimeData mime;
    QList<QUrl> urls;
    for (const std::string &path : paths)
        urls.append(QUrl::fromLocalFile(QString::fromStdString(path)));
    mime.setUrls(urls);
    QWidget *target = view.viewport();
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDragMoveEvent move(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

} // namespace platform::testing
