#pragma once

// How the connection reads the text of a select before it prepares it.

#include <cstddef>
#include <string>
#include <vector>

namespace platform::dbdetail {

/// A SELECT made ready for the statement cache. The catalogue's statements carry their values
/// as literals ("... WHERE fullpath = 'Disk:a:b'"), so each text would be prepared anew; the text
/// literals compared after the top-level WHERE become parameters instead, and the statement with
/// "?" in their place is prepared once and serves every value. The result is the same as the
/// text's: a bound text has no affinity and no collation, as a literal has none, so every
/// comparison means what it meant, and no result column takes its name from what follows the
/// WHERE (a later SELECT of a compound takes the first one's names).
struct SelectText
{
    std::string key; // the text with those literals replaced by "?"; empty: use the text as it is
    std::vector<std::string> values; // the literals' values, in parameter order
    // Where ", rowid" goes so that the rows can be updated: before the top-level FROM of a plain
    // SELECT (in the key and in the text alike, as no literal before it is replaced). npos for
    // any other statement, and for a select whose rows are not each one row of its table:
    // DISTINCT, GROUP BY, HAVING, an aggregate function, a compound.
    std::size_t rowidAt = std::string::npos;
};

SelectText ParseSelect(const std::string &sql);

} // namespace platform::dbdetail
