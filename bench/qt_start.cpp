// The floor under parlivo-cli's start-up: a program that starts Qt's core
// application and prints one line, as `settings KEY` does, and nothing else.
#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QTextStream(stdout) << "auto\n";
    return 0;
}
