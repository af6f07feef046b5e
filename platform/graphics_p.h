#pragma once

// Graphics over a QPainter, for the framework's paint callbacks.

#include "platform/graphics.h"

#include <QPainter>
#include <QRect>

namespace platform::detail {

/// Draws through `painter` into `area`, which becomes the origin and the clip; the painter's
/// state is restored when the object goes.
class PainterGraphics : public Graphics
{
public:
    PainterGraphics(QPainter *painter, const QRect &area);
    ~PainterGraphics() override;

    int Width() const override { return m_width; }
    int Height() const override { return m_height; }
    void FillRect(int x, int y, int width, int height) override;
    void DrawLine(int x1, int y1, int x2, int y2) override;

private:
    QPainter *m_painter;
    int m_width;
    int m_height;
};

} // namespace platform::detail
