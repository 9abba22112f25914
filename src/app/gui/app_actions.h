#pragma once
// Every command of the window as one QAction, shared by the menu, the
// buttons and the shortcuts, so they are enabled and labelled alike.

#include <QKeySequence>
#include <QObject>

class QAction;
class QFileDialog;
class QPushButton;
class QWidget;
class Transcriber;

class AppActions : public QObject {
    Q_OBJECT

public:
    AppActions(Transcriber &engine, QWidget *window);

    QAction *chooseFolder;
    QAction *voiceMemos;
    QAction *rescan;
    QAction *revealOutput;
    QAction *start;
    QAction *pauseResume;
    QAction *cancel;
    QAction *retryErrors;
    QAction *showSettings;
    QAction *showLibrary;
    QAction *quit;
    QAction *toggleFileList; // checkable; the main window keeps the preference
    QAction *clearLog;
    QAction *about;

    // Enabled states and texts from the engine's state.
    void refresh();

signals:
    void settingsRequested();
    void libraryRequested();
    void aboutRequested();

private:
    QAction *make(const QString &text, const QKeySequence &shortcut = {});

    Transcriber &m_engine;
    QWidget *m_window;
};

// The folder chooser: folders only, one selection, confirm "Choisir ce dossier".
QFileDialog *makeFolderChooser(QWidget *parent, const QString &startFolder);

// Shows the chooser without blocking; a confirmed folder becomes the source.
void chooseSourceFolder(QWidget *parent, Transcriber &engine);

// A push button that mirrors `action`: text, enabled state, and triggers it.
QPushButton *actionButton(QAction *action, QWidget *parent = nullptr);
