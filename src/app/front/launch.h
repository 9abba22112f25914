#pragma once
// Replaces this process with a program of the same folder, arguments
// unchanged (signals, exit status and the process number go with it).

namespace cli {

// Returns only when the program could not be started, after saying why on
// standard error; the result is then the exit status to give. The program
// gets huge pages for its heap, unless the user tuned the allocator already.
int launchBeside(const char *program, char **argv);

// Called first by the programs launched: what they start (ffmpeg, the
// recogniser) gets the environment the user gave.
void forgetAllocatorTuning();

} // namespace cli
