#pragma once
// The application around the engine: starts it in the order the state needs,
// shows the main window, and saves everything however the application ends
// (the menu, the last window closed, a termination signal).

#include <QObject>

#include <memory>

#include "pipeline/tools.h"

class MainWindow;
class TerminationSignals;
class Transcriber;

class AppShell : public QObject {
    Q_OBJECT

public:
    // Creates and loads the engine with `tools` and builds the main window
    // (not shown yet). Must be constructed after the QApplication.
    explicit AppShell(Tools tools, QObject *parent = nullptr);
    ~AppShell() override;

    // The rest of the start-up sequence once the window exists: notification
    // permission, then the engine's background work (the automatic resume of
    // an interrupted batch, the local server's monitor, the raw count).
    void start();

    Transcriber &engine() const { return *m_engine; }
    MainWindow &window() const { return *m_window; }

    // What quitting does, however the application ends (run on aboutToQuit).
    void shutDown();

private:

    std::unique_ptr<Transcriber> m_engine;
    std::unique_ptr<MainWindow> m_window;
    TerminationSignals *m_signals;
};
