#pragma once

#include <cstdint>
#include <string>

namespace InstrRev {

/// The 1-based byte position where the last occurrence of `sought` begins among those that
/// begin at or before `start`; 0 when there is none. A `start` below 1 stands for the length of
/// `searched`, and so does one past it. Examines the positions from `start` down to 1 and yields
/// after each one.
int32_t InStrRev(const std::string &searched, const std::string &sought, int32_t start);

} // namespace InstrRev
