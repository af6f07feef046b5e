#pragma once

// Which dialog layer answers: the one the base keeps and the one the widgets library installs.
// Not for the logic.

#include "platform/dialogs.h"

#include <memory>

namespace platform::detail {

/// Makes `provider` the framework's own dialog layer: the one in use while no other is set.
void SetDefaultDialogProvider(std::shared_ptr<DialogProvider> provider);

/// Makes Qt's dialogs the framework's own. Defined by the widgets library.
void InstallQtDialogs();

} // namespace platform::detail
