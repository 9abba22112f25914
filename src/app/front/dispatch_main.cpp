// parlivo-cli. Chooses, before any library is loaded, which program beside it
// answers: parlivo-state, linked to QtCore alone, prints the settings and the
// queue in about half the time a program with the network, D-Bus and SQL
// libraries takes to start; parlivo-engine does everything else.
#include "app/front/command_kinds.h"
#include "app/front/launch.h"

int main(int argc, char **argv) {
    const cli::Words words(argv + 1, argv + argc);
    return cli::launchBeside(cli::answeredFromState(words) ? "parlivo-state" : "parlivo-engine", argv);
}
