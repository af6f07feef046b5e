#pragma once

// What the framework's own system threads need of OpenSSL.

namespace platform::detail {

/// Initialises OpenSSL now and has `stopThreads` called when OpenSSL cleans up at exit, before
/// it does: a pool of threads that digest ends them there, while each thread's OpenSSL state can
/// still be freed as it ends (after the clean-up it no longer is, whatever the order in which
/// the program's other objects are destroyed).
void InitCryptoForThreads(void (*stopThreads)());

} // namespace platform::detail
