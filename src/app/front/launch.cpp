#include "app/front/launch.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace cli {

namespace {
// A queue or a history of thousands of files takes tens of megabytes of
// heap, and each 4 KB page first touched costs a fault, on a virtual machine
// as dear as the work done in it: a third of a scan's time went there. Huge
// pages for the heap, grown 16 MB at a time, take three faults in four away.
constexpr const char *allocatorTuning = "glibc.malloc.hugetlb=1:glibc.malloc.top_pad=16777216";
} // namespace

void forgetAllocatorTuning() {
    const char *tunables = std::getenv("GLIBC_TUNABLES");
    if (tunables && std::strcmp(tunables, allocatorTuning) == 0) unsetenv("GLIBC_TUNABLES");
}

int launchBeside(const char *program, char **argv) {
    char self[PATH_MAX];
    const ssize_t size = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path = size > 0 ? std::string(self, std::size_t(size)) : std::string();
    path = path.substr(0, path.rfind('/') + 1) + program;
    setenv("GLIBC_TUNABLES", allocatorTuning, 0); // the user's own, when set, stays
    execv(path.c_str(), argv);
    std::fprintf(stderr, "Impossible de lancer %s : %s.\n", path.c_str(),
                 errno == ENOENT ? "programme introuvable, l'installation est incomplète" : std::strerror(errno));
    return 127; // as a shell gives for a program it could not start
}

} // namespace cli
