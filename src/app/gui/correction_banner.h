#pragma once
// The correction pass's banner: while a pass runs, the transcript being
// corrected, done/total, the rate and the remaining time, and a cancel
// button; between batches, how many transcripts are still raw and a button
// to correct them now.

#include <QUrl>

#include <optional>

#include "app/gui/banner_area.h"

class QPushButton;
class QTimer;
class StatusText;
class Transcriber;

class CorrectionBanner : public Banner {
    Q_OBJECT

public:
    explicit CorrectionBanner(Transcriber &engine, QWidget *parent = nullptr);

    void refresh();

    StatusText *state() const { return m_state; }
    StatusText *figures() const { return m_figures; }
    QProgressBar *progress() const { return m_bar; }
    QPushButton *startButton() const { return m_start; }
    QPushButton *cancelButton() const { return m_cancel; }

private:
    void cancel();
    void outputRootMayHaveMoved();

    Transcriber &m_engine;
    StatusText *m_state;
    QProgressBar *m_bar;
    StatusText *m_figures;
    QPushButton *m_start;
    QPushButton *m_cancel;
    // The rate and the remaining time move with the clock, not only with the files.
    QTimer *m_clock;
    // The raw count belongs to one output root: another one is counted again,
    // once a folder being typed is complete.
    QTimer *m_recount;
    std::optional<QUrl> m_countedRoot;
    bool m_cancelling = false;
};
