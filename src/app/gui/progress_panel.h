#pragma once
// Where the batch stands: overall progress and counters, the file being
// transcribed, elapsed time, rate and remaining time, the finished state, and
// the automatic download of the first model.

#include <QTimer>
#include <QWidget>

class StatusText;
class QProgressBar;
class Transcriber;

class ProgressPanel : public QWidget {
    Q_OBJECT

public:
    explicit ProgressPanel(Transcriber &engine, QWidget *parent = nullptr);

    // Redraws now instead of at the next tick (tests, screenshots).
    void refreshNow();

private:
    void scheduleRefresh();
    void refreshRun();
    void refreshDownload();

    Transcriber &m_engine;
    QProgressBar *m_overall;
    StatusText *m_counters;
    StatusText *m_state;
    QProgressBar *m_current;
    StatusText *m_figures;
    QWidget *m_download;
    StatusText *m_downloadText;
    QProgressBar *m_downloadBar;
    // Progress lines arrive many times a second per file: the panel redraws
    // at most every 100 ms, and every second for the elapsed time.
    QTimer *m_coalesce;
    QTimer *m_clock;
};
