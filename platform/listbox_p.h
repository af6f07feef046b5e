#pragma once

// The Listbox's storage and its Qt side: a flat model over compact row storage, the tree view
// that shows it, and the delegate that lets the program paint cell backgrounds.

#include "platform/listbox.h"

#include <QAbstractTableModel>
#include <QPixmap>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeView>

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform::detail {

/// A growable array in fixed chunks: appending never moves what is stored, so growth costs no
/// copies and no transient doubling of memory. New elements are zero.
template<class T, unsigned Shift> class ChunkedArray
{
public:
    static constexpr std::size_t ChunkSize = std::size_t(1) << Shift;

    std::size_t Size() const { return m_size; }
    T &operator[](std::size_t i) { return m_chunks[i >> Shift][i & (ChunkSize - 1)]; }
    const T &operator[](std::size_t i) const { return m_chunks[i >> Shift][i & (ChunkSize - 1)]; }
    /// Grows to `n` elements (never shrinks).
    void Grow(std::size_t n)
    {
        while (m_chunks.size() * ChunkSize < n)
            m_chunks.push_back(std::make_unique<T[]>(ChunkSize));
        if (n > m_size)
            m_size = n;
    }
    void Clear()
    {
        m_chunks.clear();
        m_size = 0;
    }

private:
    std::vector<std::unique_ptr<T[]>> m_chunks;
    std::size_t m_size = 0;
};

/// Texts packed into large blocks. A handle of a text of up to seven bytes holds the text
/// itself; a longer text is stored once, with its length, and the handle locates it. The handle
/// 0 is the empty text.
class TextStore
{
public:
    using Handle = uint64_t;

    Handle Add(std::string_view text);
    /// The text of `handle`, which must stay where it is while the view is used (a short text
    /// lives inside the handle).
    std::string_view View(const Handle &handle) const;
    static bool IsShort(Handle h) { return !(h >> 63); }
    void Clear();

private:
    static constexpr std::size_t BlockSize = std::size_t(1) << 20;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    std::size_t m_used = BlockSize; // bytes used of the last block
};

/// A tag value as the list stores it: numbers inline, texts in the text store, other values in
/// a side table.
struct TagSlot
{
    uint64_t payload = 0;
    uint8_t kind = 0; // Variant::Kind
};

/// Cell flags: the cell's own type in the low bits, then its check state.
constexpr uint8_t CellTypeMask = 0x07;
constexpr uint8_t CellChecked = 0x08;

class ListModel;
class ListView;
class ListDelegate;

} // namespace platform::detail

namespace platform {

struct Listbox::Impl
{
    Listbox *owner = nullptr;
    QPointer<detail::ListView> view;
    QPointer<detail::ListModel> model;

    int columns = 1;
    std::vector<std::string> headings;
    std::vector<int> columnTypes;
    std::string widthsText;
    bool hierarchical = false;
    int selectionType = 0;

    int rowCount = 0; // rows stored
    int shownRows = 0; // rows the view has been told of
    int lastIndex = -1;
    detail::TextStore texts;
    detail::ChunkedArray<detail::TextStore::Handle, 13> cells; // row-major, `columns` per row
    std::vector<detail::ChunkedArray<uint8_t, 16>> cellFlags; // per column, grown on use
    std::vector<detail::ChunkedArray<detail::TagSlot, 12>> cellTags; // per column, grown on use
    detail::ChunkedArray<detail::TagSlot, 12> rowTags; // grown on use
    detail::ChunkedArray<uint32_t, 14> rowPictures; // index into `pictures` + 1; 0 for none
    std::vector<Ref<Picture>> pictures;
    std::vector<QPixmap> pixmaps; // of `pictures`, made on first paint
    std::vector<int> pixmapTransparent;
    std::vector<std::any> objects; // tag values that are neither numbers nor texts

    bool dropAny = false;
    bool dropFolders = false;
    bool dropFiles = false;
    std::vector<std::string> dropExtensions; // lower case, without the dot

    QTimer flushTimer;
    bool applyingWidths = false;

    void CheckRow(int row, const char *what) const;
    void CheckColumn(int column, const char *what) const;
    void CheckCell(int row, int column, const char *what) const;
    detail::TextStore::Handle StoreText(int row, int column, std::string_view text);
    std::string_view CellText(int row, int column) const;
    int EffectiveType(int row, int column) const;
    uint8_t Flags(int row, int column) const;
    uint8_t &FlagsForWrite(int row, int column);
    detail::TagSlot ToSlot(const Variant &v, const detail::TagSlot &old);
    Variant FromSlot(const detail::TagSlot &slot) const;
    QPixmap PixmapOfRow(int row);
    /// Stores a row of the first `count` texts (one per column at most); the view hears later.
    void AppendRow(const std::string *cellTexts, std::size_t count);
    void ScheduleFlush();
    /// Tells the view of the rows appended since it last heard.
    void Flush();
    void CellChanged(int row, int column);
    void ApplyColumnWidths();
    void UserResizedColumns();
    void FireChange();
};

} // namespace platform

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
