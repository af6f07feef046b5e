#include "platform/listbox_p.h"

#include "platform/application.h"
#include "platform/control_p.h"
#include "platform/exceptions.h"
#include "platform/listview_p.h"
#include "platform/qtpicture.h"

#include <QBitmap>
#include <QImage>

#include <algorithm>
#include <cstring>

namespace platform {

using detail::TagSlot;
using detail::TextStore;

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
    // Qt may report the selection cleared while it tears down the view of a closed window.
    if (owner->Change && !detail::ControlCore::Of(*owner).gone)
        Dispatch(owner->Change);
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

} // namespace platform
