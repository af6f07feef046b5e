#pragma once

// The Listbox's Qt side: a flat model over the list's storage, the tree view that shows it, and
// the delegate that lets the program paint cell backgrounds.

#include "platform/listbox_p.h"

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTreeView>

#include <functional>
#include <string>
#include <vector>

namespace platform::detail {

class ListModel : public QAbstractTableModel
{
public:
    ListModel(Listbox::Impl *d, QObject *parent);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex index(
        int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void ShowRows(int count);
    void ResetWith(const std::function<void()> &change);
    void NotifyCell(int row, int column);
    void NotifyHeading(int column);

private:
    Listbox::Impl *d;
};

class ListDelegate : public QStyledItemDelegate
{
public:
    ListDelegate(Listbox::Impl *d, QObject *parent);
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
        const QModelIndex &index) const override;

private:
    Listbox::Impl *d;
};

class ListView : public QTreeView
{
public:
    explicit ListView(Listbox::Impl *d);
    /// Height of a row, also when the list is empty.
    int RowHeight() const;
    /// Calls the program's background painter for one cell; true when it painted all.
    bool PaintBackground(QPainter *painter, const QRect &rect, int row, int column) const;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    std::vector<std::string> AcceptedPaths(const QMimeData *mime) const;
    Listbox::Impl *d;
    bool m_swallowRelease = false;
};

} // namespace platform::detail
