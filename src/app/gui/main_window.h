#pragma once
// The main window: source bar, run controls, progress, the AI stages'
// banners, the file list and the log, under the application menu.

#include <QMainWindow>
#include <QPointer>

#include "app/gui/window_preferences.h"

class AppActions;
class BannerArea;
class LibraryWindow;
class LogPanel;
class ProgressPanel;
class QLineEdit;
class QueueView;
class RunPanel;
class SettingsWindow;
class SourceBar;
class Transcriber;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(Transcriber &engine, QWidget *parent = nullptr);
    ~MainWindow() override;

    AppActions &actions() const { return *m_actions; }
    SourceBar *sourceBar() const { return m_sourceBar; }
    RunPanel *runPanel() const { return m_runPanel; }
    ProgressPanel *progressPanel() const { return m_progress; }
    BannerArea *bannerArea() const { return m_banners; }
    QueueView *queueView() const { return m_queue; }
    LogPanel *logPanel() const { return m_log; }
    // Created on first use; a child window, so closing the main one still quits.
    SettingsWindow *settingsWindow();
    LibraryWindow *libraryWindow();
    // The field over the memo library, at the right of the menu bar.
    QLineEdit *librarySearchField() const { return m_librarySearch; }
    const WindowPreferences &preferences() const { return m_prefs; }

    void showSettings();
    // The memo library's window, searching for `words` when given.
    void showLibrary(const QString &words = {});
    // The reader on a transcript of the queue.
    void openReader(const QString &transcriptPath);
    // A second launch asked for this window.
    void bringToFront();
    // Writes the window preferences (also done at close).
    void savePreferences();

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildMenus();
    QWidget *buildCentral();
    void setFileListShown(bool shown);
    void showAbout();

    Transcriber &m_engine;
    AppActions *m_actions;
    SourceBar *m_sourceBar = nullptr;
    RunPanel *m_runPanel = nullptr;
    ProgressPanel *m_progress = nullptr;
    BannerArea *m_banners = nullptr;
    QueueView *m_queue = nullptr;
    LogPanel *m_log = nullptr;
    QPointer<SettingsWindow> m_settings;
    QPointer<LibraryWindow> m_library;
    QLineEdit *m_librarySearch = nullptr;
    WindowPreferences m_prefs;
    bool m_applyingHeight = false;
};
