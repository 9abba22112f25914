#pragma once
// The memo library filled from the transcripts Parlivo wrote: what one .md
// or .txt file says of its memo, and every transcript under some folders.
// Plain file reading: safe on any thread.

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

#include "library/library_memo.h"

// The memo a transcript file describes, from its path and its text; nothing
// when the text is not laid out as Parlivo writes transcripts. Without a
// path in the header, the recording is the file the header names when it
// lies beside the transcript. A text written with timestamps gives its
// segments and times; any other text gives none.
std::optional<LibraryMemo> memoFromTranscript(const QString &transcriptPath, const QString &fileText);

// The transcript that holds the memo of `transcriptPath`: the .md beside a
// .txt written with it, else the file itself.
QString memoTranscriptPath(const QString &transcriptPath);

// The memos of every transcript under `folders`, recursively (hidden items
// and linked folders left out, and everything inside `leftOut`: the organized
// archive, whose copies are not memos of their own). A recording written as
// both .txt and .md is one memo: the .md, which names the recording's path.
QList<LibraryMemo> readTranscriptsUnder(const QStringList &folders, const std::optional<QString> &leftOut);
