// Parlivo's window. One instance per support folder: a second launch brings
// the running window forward and exits; while a command holds the folder, the
// window says so and does not open.
#include <QApplication>
#include <QMessageBox>

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

    folders::migrateFormerSupportDir(); // before the lock creates the support folder
    SingleInstance instance(folders::supportDir());
    switch (instance.claim()) {
    case SingleInstance::Claim::owner: break;
    case SingleInstance::Claim::handedOver:
        std::fputs("Parlivo est déjà ouvert : sa fenêtre passe au premier plan.\n", stderr);
        return 0;
    case SingleInstance::Claim::refused:
        std::fputs((instance.refusal() + QLatin1Char('\n')).toUtf8().constData(), stderr);
        QMessageBox::warning(nullptr, QStringLiteral("Parlivo"), instance.refusal());
        return 2;
    }

    AppShell shell(Tools::resolve());
    QObject::connect(&instance, &SingleInstance::activationRequested, &shell.window(), &MainWindow::bringToFront);
    shell.window().show();
    shell.start();
    return app.exec();
}
