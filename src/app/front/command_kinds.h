#pragma once
// Which program answers a command line, decided from its words alone and
// without Qt: parlivo-cli decides before loading any library.

#include <string_view>
#include <vector>

#include "core/state_parts.h"

namespace cli {

// The words after the program's name: the command, then its arguments.
using Words = std::vector<std::string_view>;

// Commands that only look at the state: they run beside an engine at work,
// without its lock, and write nothing (but the memo library, a cache that
// SQLite keeps whole between processes).
bool onlyLooks(const Words &words);
// Commands that need nothing but the state files, and the source folder for
// a scan: parlivo-state answers them.
bool answeredFromState(const Words &words);
// What a command reads of the state.
StateParts partsRead(const Words &words);

} // namespace cli
