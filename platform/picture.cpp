// Pictures read from files. Qt's image readers belong to Qt Gui, so this is the widgets
// library's part of FolderItem.

#include "platform/folderitem.h"

#include "platform/qtpicture.h"

#include <QFile>
#include <QImageReader>

#include <unistd.h>

namespace platform {

Ref<Picture> FolderItem::OpenAsPicture() const
{
    const int fd = OpenForReading();
    if (fd < 0)
        return nullptr;
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        close(fd);
        return nullptr;
    }
    // The format is told by the content, so a picture with a wrong extension still loads.
    QImageReader reader(&file);
    QImage image = reader.read();
    if (image.isNull())
        return nullptr;
    return Ref<Picture>(std::make_shared<detail::QtPicture>(std::move(image)));
}

} // namespace platform
