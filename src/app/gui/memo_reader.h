#pragma once
// The reader: one memo's transcript, its segments with their times (the
// recogniser's words) and the corrected text when it differs, landing on a
// search hit, with the recording played from the segment chosen.

#include <QWidget>

#include <optional>

#include "library/library_memo.h"
#include "library/memo_reading.h"

class PlaybackBar;
class QLabel;
class QTextBrowser;
class QTreeWidget;
class QTreeWidgetItem;

class MemoReader : public QWidget {
    Q_OBJECT

public:
    explicit MemoReader(QWidget *parent = nullptr);

    // Shows `memo`; with a hit, selects the segment it lies in and plays
    // from there, else stands at the beginning.
    void showMemo(const LibraryMemo &memo, const std::optional<SearchHit> &hit = std::nullopt);
    // Says why no memo is shown.
    void showNothing(const QString &why);

    QTreeWidget *segmentList() const { return m_segments; }
    QTextBrowser *textView() const { return m_text; }
    PlaybackBar *playback() const { return m_playback; }
    // The selected segment's index, nothing when none is.
    std::optional<int> selectedSegment() const;

private:
    void fillSegments();
    void showText(const QString &text, const std::optional<SearchHit> &hit);
    void selectSegment(qsizetype index);
    void segmentChosen(QTreeWidgetItem *item);
    void followPlayback(qint64 positionMs);

    QLabel *m_title;
    QTreeWidget *m_segments;
    QLabel *m_textTitle;
    QTextBrowser *m_text;
    PlaybackBar *m_playback;
    MemoReading m_reading;
};
