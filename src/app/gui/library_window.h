#pragma once
// The memo library's window: the search on the left, the reader of the
// memo opened on the right.

#include <QWidget>

#include <optional>

#include "library/library_memo.h"

class LibrarySearch;
class MemoReader;
class Transcriber;

class LibraryWindow : public QWidget {
    Q_OBJECT

public:
    explicit LibraryWindow(Transcriber &engine, QWidget *parent = nullptr);

    LibrarySearch *searchPanel() const { return m_search; }
    MemoReader *reader() const { return m_reader; }

    // Opens the memo at the hit's words, playing from there.
    void openHit(const SearchHit &hit);
    // Opens a transcript from its beginning (a file of the queue).
    void openTranscript(const QString &transcriptPath);

signals:
    // The reader shows the memo last asked for.
    void memoShown();

private:
    void open(const QString &transcriptPath, const std::optional<SearchHit> &hit);

    Transcriber &m_engine;
    LibrarySearch *m_search;
    MemoReader *m_reader;
    quint64 m_request = 0; // the newest opening: an older one's memo is dropped
};
