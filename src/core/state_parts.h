#pragma once
// The state files a process reads at start: a command that only prints the
// settings, or the queue, leaves the others unread, and then writes none.

enum class StateParts { settings, settingsAndQueue, all };
