#pragma once
// The organization's banner: while a run is active, its phase, done/total and
// the memo in hand, with cancel; between runs, the memos still waiting for
// their folder in the archive, with a button to organize them now. "Ouvrir
// l'archive" in both.

#include <QTimer>

#include "app/gui/banner_area.h"

class QPushButton;
class StatusText;
class Transcriber;

class OrganizationBanner : public Banner {
    Q_OBJECT

public:
    explicit OrganizationBanner(Transcriber &engine, QWidget *parent = nullptr);

    void refresh();
    // Counts the memos waiting for the archive now instead of at the next
    // turn of the event loop (tests, screenshots).
    void recountNow();
    int pendingCount() const { return m_pending; }

    StatusText *state() const { return m_state; }
    StatusText *current() const { return m_current; }
    QProgressBar *progress() const { return m_bar; }
    QPushButton *startButton() const { return m_start; }
    QPushButton *cancelButton() const { return m_cancel; }
    QPushButton *openArchiveButton() const { return m_open; }

private:
    void scheduleRecount(int delayMs = 0);
    void settingsChanged();
    void cancel();

    Transcriber &m_engine;
    StatusText *m_state;
    StatusText *m_current;
    QProgressBar *m_bar;
    QPushButton *m_start;
    QPushButton *m_cancel;
    QPushButton *m_open;
    // The count walks the transcript folders: it is taken at start and when a
    // batch, a pass or a run ends, never on every change.
    QTimer m_recount;
    int m_pending = 0;
    quint64 m_countRequest = 0; // only the latest count is shown
    QString m_countedFor; // the settings the count was taken under
    bool m_cancelling = false;
};

// Puts a running organization's progress on `bar` (busy until its phase is
// counted) and returns the line naming the memo in hand, empty between memos.
QString showOrganizationProgress(const Transcriber &engine, QProgressBar *bar);
