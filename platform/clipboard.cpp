#include "platform/clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace platform {

std::string Clipboard::Text() const
{
    const QClipboard *cb = QGuiApplication::clipboard();
    return cb ? cb->text().toStdString() : std::string();
}

void Clipboard::SetText(const std::string &text)
{
    if (QClipboard *cb = QGuiApplication::clipboard())
        cb->setText(QString::fromStdString(text));
}

bool Clipboard::TextAvailable() const
{
    const QClipboard *cb = QGuiApplication::clipboard();
    return cb && !cb->text().isEmpty();
}

} // namespace platform
