#include "platform/listbox.h"

#include "platform/application.h"
#include "platform/control_p.h"
#include "platform/graphics_p.h"
#include "platform/listbox_p.h"
#include "platform/qtpicture.h"
#include "platform/thread.h"

#include <QApplication>
#include <QBitmap>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QImage>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstring>

namespace platform {

namespace {

std::string Trim(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return std::string(s);
}

std::string Lower(std::string s)
{
    for (char &c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

namespace detail {

namespace {

std::size_t VarintSize(std::size_t n)
{
    std::size_t bytes = 1;
    while (n >= 0x80) {
        n >>= 7;
        ++bytes;
    }
    return bytes;
}

} // namespace

// A short text lives in the low bytes of its handle.
static_assert(std::endian::native == std::endian::little);

TextStore::Handle TextStore::Add(std::string_view text)
{
    if (text.size() <= 7) {
        Handle h = Handle(text.size()) << 56;
        std::memcpy(&h, text.data(), text.size());
        return h;
    }
    const std::size_t need = VarintSize(text.size()) + text.size();
    if (need > BlockSize) {
        // A text larger than a block gets one of its own; the next text starts a fresh block.
        m_blocks.push_back(std::unique_ptr<char[]>(new char[need]));
        m_used = BlockSize;
    } else if (m_used + need > BlockSize) {
        m_blocks.push_back(std::unique_ptr<char[]>(new char[BlockSize]));
        m_used = 0;
    }
    const std::size_t index = m_blocks.size() - 1;
    const std::size_t offset = need > BlockSize ? 0 : m_used;
    char *at = m_blocks[index].get() + offset;
    std::size_t n = text.size();
    while (n >= 0x80) {
        *at++ = char(0x80 | (n & 0x7F));
        n >>= 7;
    }
    *at++ = char(n);
    std::memcpy(at, text.data(), text.size());
    if (need <= BlockSize)
        m_used += need;
    return (Handle(1) << 63) | (Handle(index) << 32) | Handle(offset);
}

std::string_view TextStore::View(const Handle &handle) const
{
    if (IsShort(handle))
        return std::string_view(reinterpret_cast<const char *>(&handle), std::size_t(handle >> 56));
    const std::size_t index = std::size_t((handle >> 32) & 0x7FFFFFFF);
    const char *at = m_blocks[index].get() + (handle & 0xFFFFFFFF);
    std::size_t n = 0;
    int shift = 0;
    while (static_cast<unsigned char>(*at) & 0x80) {
        n |= std::size_t(static_cast<unsigned char>(*at) & 0x7F) << shift;
        shift += 7;
        ++at;
    }
    n |= std::size_t(static_cast<unsigned char>(*at)) << shift;
    return std::string_view(at + 1, n);
}

void TextStore::Clear()
{
    m_blocks.clear();
    m_used = BlockSize;
}

} // namespace detail

using detail::TagSlot;
using detail::TextStore;

// --- storage -------------------------------------------------------------------------------

void Listbox::Impl::CheckRow(int row, const char *what) const
{
    if (row < 0 || row >= rowCount)
        throw OutOfBoundsException(std::string(what) + ": row " + std::to_string(row)
            + " is outside the list of " + std::to_string(rowCount) + " rows");
}

void Listbox::Impl::CheckColumn(int column, const char *what) const
{
    if (column < 0 || column >= columns)
        throw OutOfBoundsException(std::string(what) + ": column " + std::to_string(column)
            + " is outside the list of " + std::to_string(columns) + " columns");
}

void Listbox::Impl::CheckCell(int row, int column, const char *what) const
{
    CheckRow(row, what);
    CheckColumn(column, what);
}

TextStore::Handle Listbox::Impl::StoreText(int row, int column, std::string_view text)
{
    if (text.size() > 7) {
        // Repeated texts (the same in the row above, or unchanged) are stored once.
        const std::size_t at = std::size_t(row) * std::size_t(columns) + std::size_t(column);
        const TextStore::Handle &current = cells[at];
        if (!TextStore::IsShort(current) && texts.View(current) == text)
            return current;
        if (row > 0) {
            const TextStore::Handle &above = cells[at - std::size_t(columns)];
            if (!TextStore::IsShort(above) && texts.View(above) == text)
                return above;
        }
    }
    return texts.Add(text);
}

std::string_view Listbox::Impl::CellText(int row, int column) const
{
    return texts.View(cells[std::size_t(row) * std::size_t(columns) + std::size_t(column)]);
}

uint8_t Listbox::Impl::Flags(int row, int column) const
{
    const auto &f = cellFlags[std::size_t(column)];
    return std::size_t(row) < f.Size() ? f[std::size_t(row)] : 0;
}

uint8_t &Listbox::Impl::FlagsForWrite(int row, int column)
{
    auto &f = cellFlags[std::size_t(column)];
    f.Grow(std::size_t(row) + 1);
    return f[std::size_t(row)];
}

int Listbox::Impl::EffectiveType(int row, int column) const
{
    const int own = Flags(row, column) & detail::CellTypeMask;
    return own != TypeDefault ? own : columnTypes[std::size_t(column)];
}

TagSlot Listbox::Impl::ToSlot(const Variant &v, const TagSlot &old)
{
    TagSlot s;
    s.kind = uint8_t(v.GetKind());
    switch (v.GetKind()) {
    case Variant::Kind::Nil:
        break;
    case Variant::Kind::Boolean:
        s.payload = v.As<bool>() ? 1 : 0;
        break;
    case Variant::Kind::Integer:
        s.payload = uint64_t(v.As<int64_t>());
        break;
    case Variant::Kind::Double: {
        const double d = v.As<double>();
        std::memcpy(&s.payload, &d, sizeof d);
        break;
    }
    case Variant::Kind::Text:
        s.payload = texts.Add(v.As<std::string>());
        break;
    case Variant::Kind::Object:
        // Reuse the old value's place in the side table.
        if (old.kind == uint8_t(Variant::Kind::Object)) {
            s.payload = old.payload;
            objects[std::size_t(old.payload)] = *v.ObjectValue();
        } else {
            s.payload = objects.size();
            objects.push_back(*v.ObjectValue());
        }
        break;
    }
    return s;
}

Variant Listbox::Impl::FromSlot(const TagSlot &slot) const
{
    switch (Variant::Kind(slot.kind)) {
    case Variant::Kind::Nil:
        return Variant();
    case Variant::Kind::Boolean:
        return Variant(slot.payload != 0);
    case Variant::Kind::Integer:
        return Variant(int64_t(slot.payload));
    case Variant::Kind::Double: {
        double d;
        std::memcpy(&d, &slot.payload, sizeof d);
        return Variant(d);
    }
    case Variant::Kind::Text:
        return Variant(std::string(texts.View(slot.payload)));
    case Variant::Kind::Object:
        return Variant(objects[std::size_t(slot.payload)]);
    }
    return Variant();
}

void Listbox::Impl::ScheduleFlush()
{
    if (flushTimer.isActive())
        return;
    // A notice makes the view lay out all its rows again, so a long list hears less often.
    flushTimer.start(std::min(200, shownRows / 5000));
}

void Listbox::Impl::Flush()
{
    flushTimer.stop();
    if (rowCount > shownRows && model)
        model->ShowRows(rowCount);
    else if (!model)
        shownRows = rowCount;
}

void Listbox::Impl::CellChanged(int row, int column)
{
    if (row < shownRows && model)
        model->NotifyCell(row, column);
}

void Listbox::Impl::FireChange()
{
    if (owner->Change)
        Dispatch(owner->Change);
}

namespace {

struct ColumnWidthRule
{
    enum Kind { Pixels, Percent, Share } kind = Share;
    double value = 1;
};

std::vector<ColumnWidthRule> ParseWidths(const std::string &text)
{
    std::vector<ColumnWidthRule> rules;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string::npos)
            comma = text.size();
        const std::string item = Trim(std::string_view(text).substr(start, comma - start));
        ColumnWidthRule rule;
        try {
            if (item.empty() || item == "*") {
                rule = { ColumnWidthRule::Share, 1 };
            } else if (item.back() == '*') {
                rule = { ColumnWidthRule::Share, std::stod(item.substr(0, item.size() - 1)) };
            } else if (item.back() == '%') {
                rule = { ColumnWidthRule::Percent, std::stod(item.substr(0, item.size() - 1)) };
            } else {
                rule = { ColumnWidthRule::Pixels, std::stod(item) };
            }
        } catch (const std::exception &) {
            rule = { ColumnWidthRule::Share, 1 }; // an unreadable width shares the rest
        }
        rules.push_back(rule);
        start = comma + 1;
    }
    return rules;
}

} // namespace

void Listbox::Impl::ApplyColumnWidths()
{
    if (!view)
        return;
    std::vector<ColumnWidthRule> rules
        = widthsText.empty() ? std::vector<ColumnWidthRule>() : ParseWidths(widthsText);
    rules.resize(std::size_t(columns), ColumnWidthRule { ColumnWidthRule::Share, 1 });
    const int avail = view->viewport()->width();
    std::vector<int> widths(std::size_t(columns), 0);
    double fixed = 0;
    double shares = 0;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        const ColumnWidthRule &s = rules[i];
        if (s.kind == ColumnWidthRule::Pixels)
            widths[i] = int(std::lround(s.value));
        else if (s.kind == ColumnWidthRule::Percent)
            widths[i] = int(std::lround(avail * s.value / 100.0));
        else
            shares += std::max(0.0, s.value);
        if (s.kind != ColumnWidthRule::Share)
            fixed += widths[i];
    }
    const int rest = std::max(0, avail - int(fixed));
    int given = 0;
    int lastShare = -1;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        if (rules[i].kind != ColumnWidthRule::Share)
            continue;
        widths[i] = shares > 0 ? int(rest * std::max(0.0, rules[i].value) / shares) : 0;
        given += widths[i];
        lastShare = int(i);
    }
    if (lastShare >= 0)
        widths[std::size_t(lastShare)] += rest - given; // the rounding remainder
    applyingWidths = true;
    for (std::size_t i = 0; i < widths.size(); ++i)
        view->header()->resizeSection(int(i), std::max(0, widths[i]));
    applyingWidths = false;
}

void Listbox::Impl::UserResizedColumns()
{
    if (applyingWidths || !view)
        return;
    std::string text;
    for (int i = 0; i < columns; ++i) {
        if (i)
            text += ", ";
        text += std::to_string(view->header()->sectionSize(i));
    }
    widthsText = text;
}

QPixmap Listbox::Impl::PixmapOfRow(int row)
{
    if (std::size_t(row) >= rowPictures.Size())
        return QPixmap();
    const uint32_t at = rowPictures[std::size_t(row)];
    if (!at)
        return QPixmap();
    const std::size_t i = at - 1;
    Picture &picture = *pictures[i];
    if (pixmapTransparent[i] != picture.Transparent || pixmaps[i].isNull()) {
        QImage image = detail::ImageOf(picture);
        QPixmap pixmap;
        if (!image.isNull()) {
            pixmap = QPixmap::fromImage(image);
            if (picture.Transparent) // white shows the background, as the picture's format meant
                pixmap.setMask(QBitmap::fromImage(
                    image.createMaskFromColor(qRgb(255, 255, 255), Qt::MaskInColor)));
        }
        pixmaps[i] = pixmap;
        pixmapTransparent[i] = picture.Transparent;
    }
    return pixmaps[i];
}

// --- model ---------------------------------------------------------------------------------

namespace detail {

ListModel::ListModel(Listbox::Impl *impl, QObject *parent)
    : QAbstractTableModel(parent)
    , d(impl)
{
}

int ListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : d->shownRows;
}

int ListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : d->columns;
}

QModelIndex ListModel::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() || row < 0 || row >= d->shownRows || column < 0 || column >= d->columns)
        return QModelIndex();
    return createIndex(row, column);
}

QVariant ListModel::data(const QModelIndex &index, int role) const
{
    Scheduler::NoYieldScope noYield;
    if (!index.isValid() || index.row() >= d->rowCount || index.column() >= d->columns)
        return QVariant();
    const int row = index.row();
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: {
        const std::string_view text = d->CellText(row, column);
        if (text.empty())
            return QVariant();
        return QString::fromUtf8(text.data(), qsizetype(text.size()));
    }
    case Qt::CheckStateRole:
        if (d->EffectiveType(row, column) == Listbox::TypeCheckbox)
            return (d->Flags(row, column) & CellChecked) ? Qt::Checked : Qt::Unchecked;
        return QVariant();
    case Qt::DecorationRole:
        if (column == 0) {
            QPixmap p = d->PixmapOfRow(row);
            if (!p.isNull())
                return p;
        }
        return QVariant();
    default:
        return QVariant();
    }
}

bool ListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.row() >= d->rowCount || role != Qt::CheckStateRole)
        return false;
    const int row = index.row();
    const int column = index.column();
    if (d->EffectiveType(row, column) != Listbox::TypeCheckbox)
        return false;
    // Only the view calls this, for the user's click: it is the list's CellAction.
    uint8_t &flags = d->FlagsForWrite(row, column);
    const bool checked = value.toInt() == Qt::Checked;
    flags = checked ? (flags | CellChecked) : (flags & ~CellChecked);
    emit dataChanged(index, index, { Qt::CheckStateRole });
    if (d->owner->CellAction) {
        auto handler = d->owner->CellAction;
        Dispatch([&] { handler(row, column); });
    }
    return true;
}

Qt::ItemFlags ListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.row() < d->rowCount
        && d->EffectiveType(index.row(), index.column()) == Listbox::TypeCheckbox)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    Scheduler::NoYieldScope noYield;
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0
        || section >= d->columns)
        return QVariant();
    return QString::fromStdString(d->headings[std::size_t(section)]);
}

void ListModel::ShowRows(int count)
{
    beginInsertRows(QModelIndex(), d->shownRows, count - 1);
    d->shownRows = count;
    endInsertRows();
}

void ListModel::ResetWith(const std::function<void()> &change)
{
    beginResetModel();
    change();
    endResetModel();
}

void ListModel::NotifyCell(int row, int column)
{
    const QModelIndex i = index(row, column);
    emit dataChanged(i, i);
}

void ListModel::NotifyHeading(int column)
{
    emit headerDataChanged(Qt::Horizontal, column, column);
}

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
        bool ok = d->dropAny;
        if (!ok && d->dropFolders && info.isDir())
            ok = true;
        if (!ok && !info.isDir()) {
            if (d->dropFiles)
                ok = true;
            const std::string suffix = Lower(info.suffix().toStdString());
            ok = ok
                || std::find(d->dropExtensions.begin(), d->dropExtensions.end(), suffix)
                    != d->dropExtensions.end();
        }
        if (ok) {
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
    // The handler runs when the event loop next turns, not inside the drag machinery, as it may
    // start work and yield.
    Listbox *owner = d->owner;
    std::weak_ptr<Control> weak = owner->weak_from_this();
    QMetaObject::invokeMethod(
        this,
        [weak, owner, paths, action] {
            auto alive = weak.lock();
            if (!alive || !owner->DropObject)
                return;
            std::vector<Ref<FolderItem>> items;
            for (const std::string &p : paths)
                items.push_back(FolderItem::FromNativePath(p));
            auto drag = New<DragItem>(std::move(items));
            auto handler = owner->DropObject;
            Dispatch([&] { handler(drag, action); });
        },
        Qt::QueuedConnection);
}

} // namespace detail

// --- Listbox -------------------------------------------------------------------------------

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
    QObject::connect(view->selectionModel(), &QItemSelectionModel::selectionChanged,
        [this] { m_impl->FireChange(); });
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

int Listbox::ColumnCount() const { return m_impl->columns; }

void Listbox::SetColumnCount(int count)
{
    Impl &d = *m_impl;
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

bool Listbox::HasHeading() const { return m_impl->view && !m_impl->view->header()->isHidden(); }

void Listbox::SetHasHeading(bool on)
{
    if (m_impl->view)
        m_impl->view->header()->setVisible(on);
}

std::string Listbox::Heading(int column) const
{
    m_impl->CheckColumn(column, "Heading");
    return m_impl->headings[std::size_t(column)];
}

void Listbox::SetHeading(int column, const std::string &text)
{
    m_impl->CheckColumn(column, "Heading");
    m_impl->headings[std::size_t(column)] = text;
    if (m_impl->model)
        m_impl->model->NotifyHeading(column);
}

std::string Listbox::ColumnWidths() const { return m_impl->widthsText; }

void Listbox::SetColumnWidths(const std::string &widths)
{
    m_impl->widthsText = widths;
    m_impl->ApplyColumnWidths();
}

int Listbox::ColumnWidth(int column) const
{
    m_impl->CheckColumn(column, "ColumnWidth");
    return m_impl->view ? m_impl->view->header()->sectionSize(column) : 0;
}

int Listbox::ColumnType(int column) const
{
    m_impl->CheckColumn(column, "ColumnType");
    return m_impl->columnTypes[std::size_t(column)];
}

void Listbox::SetColumnType(int column, int type)
{
    Impl &d = *m_impl;
    d.CheckColumn(column, "ColumnType");
    d.columnTypes[std::size_t(column)] = type;
    if (d.view)
        d.view->viewport()->update();
}

bool Listbox::Hierarchical() const { return m_impl->hierarchical; }
void Listbox::SetHierarchical(bool on) { m_impl->hierarchical = on; }
int Listbox::SelectionType() const { return m_impl->selectionType; }

void Listbox::SetSelectionType(int type)
{
    m_impl->selectionType = type;
    if (m_impl->view)
        m_impl->view->setSelectionMode(
            type == 1 ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
}

void Listbox::Impl::AppendRow(const std::string *cellTexts, std::size_t count)
{
    const int row = rowCount;
    cells.Grow(std::size_t(row + 1) * std::size_t(columns));
    rowCount = row + 1;
    const std::size_t n = std::min(count, std::size_t(columns));
    for (std::size_t c = 0; c < n; ++c) {
        if (!cellTexts[c].empty())
            cells[std::size_t(row) * std::size_t(columns) + c]
                = StoreText(row, int(c), cellTexts[c]);
    }
    lastIndex = row;
    ScheduleFlush();
}

void Listbox::AddRow(const std::string &text) { m_impl->AppendRow(&text, 1); }

void Listbox::AddRow(const std::vector<std::string> &cellTexts)
{
    m_impl->AppendRow(cellTexts.data(), cellTexts.size());
}

int Listbox::LastIndex() const { return m_impl->lastIndex; }
int Listbox::ListCount() const { return m_impl->rowCount; }

void Listbox::DeleteAllRows()
{
    Impl &d = *m_impl;
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
    m_impl->CheckCell(row, column, "Cell");
    return std::string(m_impl->CellText(row, column));
}

void Listbox::SetCell(int row, int column, const std::string &text)
{
    Impl &d = *m_impl;
    d.CheckCell(row, column, "Cell");
    d.cells[std::size_t(row) * std::size_t(d.columns) + std::size_t(column)]
        = d.StoreText(row, column, text);
    d.CellChanged(row, column);
}

Variant Listbox::CellTag(int row, int column) const
{
    const Impl &d = *m_impl;
    d.CheckCell(row, column, "CellTag");
    const auto &tags = d.cellTags[std::size_t(column)];
    return std::size_t(row) < tags.Size() ? d.FromSlot(tags[std::size_t(row)]) : Variant();
}

void Listbox::SetCellTag(int row, int column, const Variant &tag)
{
    Impl &d = *m_impl;
    d.CheckCell(row, column, "CellTag");
    auto &tags = d.cellTags[std::size_t(column)];
    tags.Grow(std::size_t(row) + 1);
    tags[std::size_t(row)] = d.ToSlot(tag, tags[std::size_t(row)]);
}

Variant Listbox::RowTag(int row) const
{
    const Impl &d = *m_impl;
    d.CheckRow(row, "RowTag");
    return std::size_t(row) < d.rowTags.Size() ? d.FromSlot(d.rowTags[std::size_t(row)])
                                               : Variant();
}

void Listbox::SetRowTag(int row, const Variant &tag)
{
    Impl &d = *m_impl;
    d.CheckRow(row, "RowTag");
    d.rowTags.Grow(std::size_t(row) + 1);
    d.rowTags[std::size_t(row)] = d.ToSlot(tag, d.rowTags[std::size_t(row)]);
}

int Listbox::CellType(int row, int column) const
{
    m_impl->CheckCell(row, column, "CellType");
    return m_impl->Flags(row, column) & detail::CellTypeMask;
}

void Listbox::SetCellType(int row, int column, int type)
{
    Impl &d = *m_impl;
    d.CheckCell(row, column, "CellType");
    uint8_t &flags = d.FlagsForWrite(row, column);
    flags = uint8_t((flags & ~detail::CellTypeMask) | (type & detail::CellTypeMask));
    d.CellChanged(row, column);
}

bool Listbox::CellCheck(int row, int column) const
{
    m_impl->CheckCell(row, column, "CellCheck");
    return m_impl->Flags(row, column) & detail::CellChecked;
}

void Listbox::SetCellCheck(int row, int column, bool checked)
{
    Impl &d = *m_impl;
    d.CheckCell(row, column, "CellCheck");
    uint8_t &flags = d.FlagsForWrite(row, column);
    flags = checked ? uint8_t(flags | detail::CellChecked) : uint8_t(flags & ~detail::CellChecked);
    d.CellChanged(row, column);
}

Ref<Picture> Listbox::RowPicture(int row) const
{
    const Impl &d = *m_impl;
    d.CheckRow(row, "RowPicture");
    if (std::size_t(row) >= d.rowPictures.Size() || !d.rowPictures[std::size_t(row)])
        return nullptr;
    return d.pictures[d.rowPictures[std::size_t(row)] - 1];
}

void Listbox::SetRowPicture(int row, const Ref<Picture> &picture)
{
    Impl &d = *m_impl;
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
    const Impl &d = *m_impl;
    d.CheckRow(row, "Selected");
    if (row >= d.shownRows || !d.view)
        return false;
    return d.view->selectionModel()->isRowSelected(row, QModelIndex());
}

void Listbox::SetSelected(int row, bool selected)
{
    Impl &d = *m_impl;
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

namespace {

// The selected rows as sorted, disjoint [first, last] pairs.
std::vector<std::pair<int, int>> SelectedRuns(const QItemSelectionModel *selection)
{
    std::vector<std::pair<int, int>> runs;
    for (const QItemSelectionRange &r : selection->selection())
        runs.emplace_back(r.top(), r.bottom());
    std::sort(runs.begin(), runs.end());
    std::vector<std::pair<int, int>> merged;
    for (const auto &run : runs) {
        if (!merged.empty() && run.first <= merged.back().second + 1)
            merged.back().second = std::max(merged.back().second, run.second);
        else
            merged.push_back(run);
    }
    return merged;
}

} // namespace

int Listbox::SelCount() const
{
    if (!m_impl->view)
        return 0;
    int n = 0;
    for (const auto &[first, last] : SelectedRuns(m_impl->view->selectionModel()))
        n += last - first + 1;
    return n;
}

int Listbox::ListIndex() const
{
    if (!m_impl->view)
        return -1;
    const auto runs = SelectedRuns(m_impl->view->selectionModel());
    return runs.empty() ? -1 : runs.front().first;
}

void Listbox::SetListIndex(int row)
{
    Impl &d = *m_impl;
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

void Listbox::AcceptFileDrop(const std::string &fileTypeName)
{
    FileType type;
    type.Name = fileTypeName;
    AcceptFileDrop(type);
}

void Listbox::AcceptFileDrop(const FileType &type)
{
    Impl &d = *m_impl;
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
