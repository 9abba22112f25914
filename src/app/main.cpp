// Parlivo's window. One instance per support folder: a second launch brings
// the running window forward and exits.
#include <QApplication>

#include <cstdio>

#include "app/gui/app_shell.h"
#include "app/gui/french_interface.h"
#include "app/gui/main_window.h"
#include "app/gui/single_instance.h"
#include "core/folders.h"

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Parlivo"));
    QApplication::setApplicationVersion(QStringLiteral(PARLIVO_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("parlivo"));
    useFrenchInterface();

    SingleInstance instance(folders::supportDir());
    if (!instance.claim()) {
        std::fputs("Parlivo est déjà ouvert : sa fenêtre passe au premier plan.\n", stderr);
        return 0;
    }

    AppShell shell(Tools::resolve());
    QObject::connect(&instance, &SingleInstance::activationRequested, &shell.window(), &MainWindow::bringToFront);
    shell.window().show();
    shell.start();
    return app.exec();
}
