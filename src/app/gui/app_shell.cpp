#include "app/gui/app_shell.h"

#include <QApplication>
#include <QDesktopServices>

#include <qcoro/qcorotask.h>

#include "app/gui/main_window.h"
#include "app/gui/termination_signals.h"
#include "engine/transcriber.h"

AppShell::AppShell(Tools tools, QObject *parent) : QObject(parent) {
    // The engine migrates the former support folder, loads the state and lists the models.
    m_engine = std::make_unique<Transcriber>(std::move(tools));
    m_engine->setUrlOpener([](const QUrl &url) { QDesktopServices::openUrl(url); });
    m_window = std::make_unique<MainWindow>(*m_engine);

    connect(qApp, &QCoreApplication::aboutToQuit, this, &AppShell::shutDown);
    m_signals = new TerminationSignals(this);
    // Leaving through the event loop runs aboutToQuit, hence the save.
    connect(m_signals, &TerminationSignals::terminationRequested, qApp, &QCoreApplication::quit);
}

AppShell::~AppShell() {
    // The window reads the engine until its last moment.
    m_window.reset();
    m_engine.reset();
}

void AppShell::start() {
    m_engine->requestNotificationPermission();
    // Resumes an interrupted batch, starts watching the local server and
    // counts the raw transcripts (which may start the correction pass).
    m_engine->startBackgroundWork();
}

void AppShell::shutDown() {
    m_window->savePreferences();
    // Transcripts written while the memo index was being rebuilt reach it
    // when the rebuild ends: their times are kept nowhere else.
    QCoro::waitFor(m_engine->waitForLibrary());
    // A batch still running is written as running, so the next launch resumes it.
    m_engine->saveNow();
}
