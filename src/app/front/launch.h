#pragma once
// Replaces this process with a program of the same folder, arguments
// unchanged (signals, exit status and the process number go with it).

namespace cli {

// Returns only when the program could not be started, after saying why on
// standard error; the result is then the exit status to give.
int launchBeside(const char *program, char **argv);

} // namespace cli
