#include "platform/graphics_p.h"

#include <QColor>
#include <QPen>

namespace platform::detail {

namespace {
QColor ToQColor(Color c) { return QColor(c.Red, c.Green, c.Blue); }
} // namespace

PainterGraphics::PainterGraphics(QPainter *painter, const QRect &area)
    : m_painter(painter)
    , m_width(area.width())
    , m_height(area.height())
{
    m_painter->save();
    m_painter->setClipRect(area, Qt::IntersectClip);
    m_painter->translate(area.topLeft());
    m_painter->setRenderHint(QPainter::Antialiasing, false);
}

PainterGraphics::~PainterGraphics() { m_painter->restore(); }

void PainterGraphics::FillRect(int x, int y, int width, int height)
{
    if (width > 0 && height > 0)
        m_painter->fillRect(QRect(x, y, width, height), ToQColor(ForeColor));
}

void PainterGraphics::DrawLine(int x1, int y1, int x2, int y2)
{
    QPen pen(ToQColor(ForeColor));
    pen.setWidth(0); // cosmetic: one device pixel
    pen.setCapStyle(Qt::SquareCap);
    m_painter->setPen(pen);
    m_painter->drawLine(x1, y1, x2, y2);
}

} // namespace platform::detail
