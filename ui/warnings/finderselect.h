#pragma once

#include "platform/variant.h"

#include <vector>

/// Shows each file named by `values` in the desktop's file manager, through the reveal script
/// (script resource 168). With no values the script runs without parameters; otherwise each value
/// is one parameter, in order: an integer as an integer parameter, anything else as the text it
/// reads as. Does not wait for the script; raises what the run raises.
void FinderSelect(const std::vector<platform::Variant> &values);
