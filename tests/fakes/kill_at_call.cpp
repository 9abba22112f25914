// libkill-at-call.so: loaded with LD_PRELOAD into a program under test, it
// kills the program with SIGKILL at an exact moment of a file write, which a
// kill from outside could only hit by luck:
//
//   FAULT_KILL_CALL  "fsync": the data is written but not yet on the disk;
//                    "place": it is on the disk but not yet in place (the
//                    rename over an old file, or the link of a new one).
//   FAULT_KILL_PATH  part of the path of the file: for fsync that of the
//                    temporary file (a new file's has no name of its own:
//                    "FOLDER/#INODE (deleted)"), else that of the target.
//   FAULT_KILL_NTH   which matching call kills (default 1; counted in this process).
//
// Every other call goes straight to the C library.

#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::atomic<int> matchingCalls{0};

std::string env(const char *name) {
    const char *value = std::getenv(name);
    return value ? value : "";
}

void killIfChosen(const char *call, const std::string &path) {
    if (env("FAULT_KILL_CALL") != call) return;
    const std::string wanted = env("FAULT_KILL_PATH");
    if (wanted.empty() || path.find(wanted) == std::string::npos) return;
    const int nth = std::max(1, std::atoi(env("FAULT_KILL_NTH").c_str()));
    if (++matchingCalls == nth) ::kill(::getpid(), SIGKILL);
}

std::string pathOf(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    const ssize_t length = ::readlink(link, target, sizeof target);
    return length > 0 ? std::string(target, size_t(length)) : std::string();
}

template <typename Function> Function next(const char *name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int fsync(int fd) {
    killIfChosen("fsync", pathOf(fd));
    static const auto real = next<int (*)(int)>("fsync");
    return real(fd);
}

extern "C" int rename(const char *from, const char *to) {
    killIfChosen("place", to);
    static const auto real = next<int (*)(const char *, const char *)>("rename");
    return real(from, to);
}

extern "C" int linkat(int fromDir, const char *from, int toDir, const char *to, int flags) {
    killIfChosen("place", to);
    static const auto real = next<int (*)(int, const char *, int, const char *, int)>("linkat");
    return real(fromDir, from, toDir, to, flags);
}
