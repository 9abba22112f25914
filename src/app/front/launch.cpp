#include "app/front/launch.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

namespace cli {

int launchBeside(const char *program, char **argv) {
    char self[PATH_MAX];
    const ssize_t size = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path = size > 0 ? std::string(self, std::size_t(size)) : std::string();
    path = path.substr(0, path.rfind('/') + 1) + program;
    execv(path.c_str(), argv);
    std::fprintf(stderr, "Impossible de lancer %s : %s.\n", path.c_str(),
                 errno == ENOENT ? "programme introuvable, l'installation est incomplète" : std::strerror(errno));
    return 127; // as a shell gives for a program it could not start
}

} // namespace cli
