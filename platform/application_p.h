#pragma once

// The state of a run, shared by the application's two sides: the base (Quit, the application
// object) and the widgets library (Run and its event loop). Not for the logic.

#include <memory>

namespace platform {

class Application;

namespace detail {

extern std::shared_ptr<Application> g_app;
extern bool g_quitRequested;
extern int g_exitCode; // the code of the first Quit
extern bool g_inEventLoop; // Run's event loop is turning

} // namespace detail

} // namespace platform
