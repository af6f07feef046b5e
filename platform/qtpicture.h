#pragma once

// The Qt side of a framework picture, shared with the framework's windows and controls.

#include "platform/folderitem.h"

#include <QImage>

#include <utility>

namespace platform::detail {

/// A picture held as a QImage.
class QtPicture : public Picture
{
public:
    explicit QtPicture(QImage image)
        : m_image(std::move(image))
    {
    }
    int Width() const override { return m_image.width(); }
    int Height() const override { return m_image.height(); }
    const QImage &Image() const { return m_image; }

private:
    QImage m_image;
};

/// The image of a picture the framework made; a null image for any other picture.
inline QImage ImageOf(const Picture &picture)
{
    const auto *qt = dynamic_cast<const QtPicture *>(&picture);
    return qt ? qt->Image() : QImage();
}

} // namespace platform::detail
