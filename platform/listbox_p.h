#pragma once

// The Listbox's storage: the rows, their cells, tags, check boxes and pictures, kept compactly,
// and what the list's Qt side (listview_p.h) reads of them.

#include "platform/chunkedarray_p.h"
#include "platform/listbox.h"
#include "platform/textstore_p.h"

#include <QPixmap>
#include <QPointer>
#include <QTimer>

#include <any>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::detail {

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
    unsigned resets = 0; // model resets so far (emptied, columns changed)
    // The selected rows as sorted, disjoint [first, last] runs, made again after every change of
    // the selection or reset of the model: Qt's own test of a row walks every range.
    mutable std::vector<std::pair<int, int>> selectedRuns;
    mutable bool selectedRunsKnown = false;

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
    const std::vector<std::pair<int, int>> &SelectedRuns() const;
    /// Runs `event` when the event loop next turns, outside Qt's handling of the input that
    /// caused it (its handler may wait, and the model may change meanwhile); nothing runs when
    /// the list or its window has gone by then.
    void DeliverLater(std::function<void(Impl &)> event);
    /// True when a dropped entry (a folder, or a file with that name suffix) is accepted.
    bool AcceptsDrop(bool isFolder, const std::string &suffix) const;
};

} // namespace platform
