#pragma once

#include "platform/database.h"
#include "platform/filetype.h"
#include "platform/ref.h"

#include <string>
#include <vector>

class winAlert;
class TheOldFiles;
class TheNewFiles;

/// State shared by the windows and the cooperative threads. No lock guards it: threads switch
/// only at yield points, and every read-modify-write of a global stays between two of them.
namespace Globals {

/// The one catalogue connection, from the application's Open until the main window closes.
extern platform::Ref<platform::Database> g_DB;
/// The hidden warnings window that receives the next warning.
extern platform::Ref<winAlert> g_winAlert;
/// The stored snapshot, one record per catalogue row.
extern std::vector<platform::Ref<TheOldFiles>> OldFiles;
/// The fresh snapshot of the running scan.
extern std::vector<platform::Ref<TheNewFiles>> NewFiles;
extern platform::Ref<platform::Dictionary> m_dictStored;
extern platform::Ref<platform::Dictionary> m_dictToSave;

/// The text as it may stand between single quotes in SQL: trimmed, quotes doubled, UTF-8, without
/// NUL bytes. Gives "" (after reporting) if anything fails.
std::string SQLizeText(const std::string &s);

/// The text with every single quote doubled and nothing else changed: for a value that must be
/// found exactly as stored, such as a path with leading or trailing blanks.
std::string DoubleQuotes(const std::string &s);

/// The text as the literal part of a LIKE pattern whose escape character is the backslash.
std::string Escape(const std::string &s);

/// Module initialisation and finalisation: the start and the end of every run.
void Initialize();
void Finalize();

} // namespace Globals
