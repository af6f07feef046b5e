#pragma once

#include <cstdint>

namespace platform {

/// A colour of 8-bit red, green and blue.
struct Color
{
    uint8_t Red = 0;
    uint8_t Green = 0;
    uint8_t Blue = 0;

    friend constexpr bool operator==(Color a, Color b)
    {
        return a.Red == b.Red && a.Green == b.Green && a.Blue == b.Blue;
    }
};

/// The colour of red, green and blue in 0 to 255 (values outside are clamped).
constexpr Color RGB(int red, int green, int blue)
{
    auto clamp = [](int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); };
    return Color { clamp(red), clamp(green), clamp(blue) };
}

/// A drawing surface with its origin at the top-left corner of what it covers (a list cell, a
/// picture). Lines and fills use ForeColor; coordinates are whole pixels.
class Graphics
{
public:
    virtual ~Graphics() = default;

    Color ForeColor;

    virtual int Width() const = 0;
    virtual int Height() const = 0;
    /// Fills the rectangle of `width` × `height` pixels whose top-left pixel is (x, y).
    virtual void FillRect(int x, int y, int width, int height) = 0;
    /// A one-pixel line through both end points.
    virtual void DrawLine(int x1, int y1, int x2, int y2) = 0;
};

} // namespace platform
