#pragma once

#include "platform/exceptions.h"

#include <string>

/// The sink of every catch-all handler: exception reports, the crash-log post and the log window.
namespace DebugGlobals {

/// Reports `error`, caught at `tag`, unless it is the end of a thread. A failure while reporting
/// ends the program with exit code 1. Caught inside a Qt paint, model or delegate callback, the
/// report is made at the next turn of the event loop.
void ExceptionReport(const platform::RuntimeException &error, const std::string &tag);

/// Posts `report` to the crash-log endpoint without waiting and appends it to the Message Log
/// window, also when the post could not be started (whose failure is then passed on).
void LogMessage(const std::string &report);

/// The first words of a report for the exception's kind ("A NilObjectException").
std::string KindPhrase(const platform::RuntimeException &error);

/// Phrase, " was raised in ", tag, then "Stack:" and one frame per line.
std::string ReportText(const platform::RuntimeException &error, const std::string &tag);

/// The "version" field: the four numbers joined by points, then the stage text.
std::string VersionField(int major, int minor, int bug, int nonRelease, int stage);

/// Replaces the crash-log endpoint's host (and port), a build setting; tests aim it at their own
/// server.
void SetCrashLogHost(const std::string &hostAndPort);
std::string CrashLogURL();

/// Makes ExceptionReport the program's reporter for every catch-all handler.
void InstallAsReporter();

} // namespace DebugGlobals
