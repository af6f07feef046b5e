#pragma once

#include <cstdint>
#include <string>

/// A count as the status lines write it (the formats "##,###,###" and "###,###,###"): decimal
/// digits grouped by threes with ",", no leading zeros, "0" for zero.
std::string FormatCount(int64_t n);
