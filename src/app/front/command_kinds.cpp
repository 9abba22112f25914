#include "app/front/command_kinds.h"

namespace cli {

bool onlyLooks(const Words &words) {
    if (words.empty()) return false;
    const std::string_view command = words.front();
    const std::size_t args = words.size() - 1;
    if (command == "status" || command == "search") return true;
    if (command == "settings") return args == 0 || (args == 1 && words[1] != "--reset-prompt");
    if (command == "models") return args == 0;
    return false;
}

bool answeredFromState(const Words &words) {
    // Usage errors (`status` or `scan` with the wrong arguments) are worded by the engine program.
    if (words.size() == 2 && words.front() == "scan") return true;
    if (!onlyLooks(words)) return false;
    return words.front() == "settings" || (words.front() == "status" && words.size() == 1);
}

StateParts partsRead(const Words &words) {
    // A large history stays unread when only the settings or the queue are shown.
    if (!onlyLooks(words)) return StateParts::all;
    if (words.front() == "settings") return StateParts::settings;
    if (words.front() == "status") return StateParts::settingsAndQueue;
    return StateParts::all;
}

} // namespace cli
