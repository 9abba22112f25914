#pragma once
// The file list: one row per queue entry, multi-selection, and the actions
// on the selection (transcribe again, put back in the queue, open, reveal).

#include <QWidget>

#include "engine/transcriber.h"

class AppActions;
class QAction;
class QHBoxLayout;
class QLabel;
class QMenu;
class QTableView;
class QueueModel;

class QueueView : public QWidget {
    Q_OBJECT

public:
    QueueView(Transcriber &engine, AppActions &actions, QWidget *parent = nullptr);

    QTableView *table() const { return m_table; }
    QueueModel *model() const { return m_model; }
    void setListVisible(bool visible);

    Transcriber::IdSet selectedIds() const;
    // Enables the selection's actions for the current selection.
    void updateSelectionActions();

    QAction *transcribeSelectionAction() const { return m_transcribe; }
    QAction *retrySelectionAction() const { return m_retry; }
    QAction *openTranscriptAction() const { return m_open; }
    QAction *revealFileAction() const { return m_reveal; }

signals:
    // A done file was double-clicked: its transcript, for the reader.
    void readerRequested(const QString &transcriptPath);

private:
    const AudioFile *currentFile() const;
    void fileDoubleClicked();
    void showContextMenu(const QPoint &position);
    void openTranscript();
    void revealFile();
    void updateTitle();

    Transcriber &m_engine;
    QueueModel *m_model;
    QTableView *m_table;
    QLabel *m_title;
    QHBoxLayout *m_header;
    QMenu *m_menu;
    QAction *m_transcribe;
    QAction *m_retry;
    QAction *m_open;
    QAction *m_reveal;
};
