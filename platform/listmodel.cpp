#include "platform/listview_p.h"

#include "platform/application.h"
#include "platform/thread.h"

namespace platform::detail {

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
    const unsigned resets = d->resets;
    d->DeliverLater([row, column, resets](Listbox::Impl &list) {
        // After a reset the row no longer names the row the user clicked.
        if (!list.owner->CellAction || list.resets != resets)
            return;
        auto handler = list.owner->CellAction;
        Dispatch([&] { handler(row, column); });
    });
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
    ++d->resets;
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

} // namespace platform::detail
