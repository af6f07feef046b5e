#include "platform/dialogs.h"

#include "platform/dialogs_p.h"
#include "platform/exceptions.h"

// Which dialog layer answers. Qt's dialogs live in the widgets library, which installs them as
// the framework's own; the base knows only the interface.

namespace platform {

namespace {

std::shared_ptr<DialogProvider> g_provider;
std::shared_ptr<DialogProvider> g_default;

} // namespace

void detail::SetDefaultDialogProvider(std::shared_ptr<DialogProvider> provider)
{
    g_default = std::move(provider);
}

void SetDialogProvider(std::shared_ptr<DialogProvider> provider)
{
    g_provider = std::move(provider);
}

DialogProvider &Dialogs()
{
    if (g_provider)
        return *g_provider;
    if (g_default)
        return *g_default;
    throw NilObjectException("no dialog layer: the framework's widgets were never started");
}

void MsgBox(const std::string &text) { Dialogs().MsgBox(text); }

Ref<FolderItem> SelectFolder(const std::string &prompt) { return Dialogs().SelectFolder(prompt); }

} // namespace platform
