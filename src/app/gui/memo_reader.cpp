#include "app/gui/memo_reader.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cmath>

#include "app/gui/playback_bar.h"
#include "app/gui/wrapped_rows.h"
#include "core/records.h"
#include "pipeline/transcript_files.h"

namespace {
const QColor hitColour(0xff, 0xec, 0x9e);

QString memoTitle(const LibraryMemo &memo) {
    const QString name = QFileInfo(memo.audioPath.isEmpty() ? memo.transcriptPath : memo.audioPath).completeBaseName();
    return memo.date ? name + QStringLiteral(" — ") + readableRecordingStamp(*memo.date) : name;
}
} // namespace

MemoReader::MemoReader(QWidget *parent) : QWidget(parent) {
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("readerTitle"));
    m_title->setWordWrap(true);
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);
    m_segments = new QTreeWidget(this);
    m_segments->setObjectName(QStringLiteral("readerSegments"));
    m_segments->setHeaderLabels({QStringLiteral("Temps"), QStringLiteral("Transcription")});
    m_segments->setRootIsDecorated(false);
    wrapRows(m_segments);
    m_segments->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_textTitle = new QLabel(this);
    m_text = new QTextBrowser(this);
    m_text->setObjectName(QStringLiteral("readerText"));
    m_playback = new PlaybackBar(this);
    column->addWidget(m_title);
    column->addWidget(m_segments, 2);
    column->addWidget(m_textTitle);
    column->addWidget(m_text, 1);
    column->addWidget(m_playback);

    connect(m_segments, &QTreeWidget::itemClicked, this, &MemoReader::segmentChosen);
    connect(m_segments, &QTreeWidget::itemActivated, this, &MemoReader::segmentChosen);
    connect(m_playback, &PlaybackBar::positionChanged, this, &MemoReader::followPlayback);
    showNothing(QStringLiteral("Choisis un résultat pour lire le mémo."));
}

void MemoReader::showNothing(const QString &why) {
    m_reading = {};
    m_title->setText(why);
    m_segments->clear();
    m_segments->hide();
    m_textTitle->hide();
    m_text->hide();
    m_playback->hide();
}

void MemoReader::showMemo(const LibraryMemo &memo, const std::optional<SearchHit> &hit) {
    m_reading = readingOf(memo, hit);
    m_title->setText(memoTitle(memo));
    fillSegments();
    m_segments->setVisible(!m_reading.segments.isEmpty());
    if (!m_reading.segments.isEmpty() && m_reading.correctedText.isEmpty()) {
        m_textTitle->hide();
        m_text->hide();
    } else {
        m_textTitle->setText(m_reading.segments.isEmpty() ? QStringLiteral("Texte (sans les temps)")
                                                          : QStringLiteral("Texte corrigé"));
        showText(m_reading.segments.isEmpty() ? m_reading.plainText : m_reading.correctedText, hit);
    }
    if (m_reading.hitSegment) selectSegment(*m_reading.hitSegment);
    const qint64 lengthMs = m_reading.segments.isEmpty() ? 0 : std::llround(m_reading.segments.last().end * 1000);
    m_playback->show();
    m_playback->load(memo.audioPath, m_reading.startMs, lengthMs, hit.has_value());
}

void MemoReader::fillSegments() {
    m_segments->clear();
    QList<QTreeWidgetItem *> items;
    items.reserve(m_reading.segments.size());
    for (qsizetype i = 0; i < m_reading.segments.size(); ++i) {
        const Segment &segment = m_reading.segments[i];
        auto *item = new QTreeWidgetItem({formatClock(std::floor(segment.start)), segment.text.trimmed()});
        item->setData(0, Qt::UserRole, qlonglong(i));
        if (m_reading.hitSegment == i)
            for (int c = 0; c < 2; ++c) item->setBackground(c, hitColour);
        items.append(item);
    }
    m_segments->addTopLevelItems(items);
}

void MemoReader::showText(const QString &text, const std::optional<SearchHit> &hit) {
    m_textTitle->show();
    m_text->show();
    m_text->setPlainText(text);
    m_text->setExtraSelections({});
    if (!hit || hit->passage.marks.isEmpty()) return;
    // The words the search marked, cut from this very text.
    const MarkedRange &mark = hit->passage.marks.first();
    const QTextCursor found = m_text->document()->find(hit->passage.text.mid(mark.start, mark.length));
    if (found.isNull()) return;
    QTextEdit::ExtraSelection highlight;
    highlight.cursor = found;
    highlight.format.setBackground(hitColour);
    m_text->setExtraSelections({highlight});
    m_text->setTextCursor(found);
    m_text->ensureCursorVisible();
}

void MemoReader::selectSegment(qsizetype index) {
    QTreeWidgetItem *item = m_segments->topLevelItem(int(index));
    if (!item) return;
    m_segments->setCurrentItem(item);
    m_segments->scrollToItem(item, QAbstractItemView::PositionAtCenter);
}

std::optional<int> MemoReader::selectedSegment() const {
    const QList<QTreeWidgetItem *> selected = m_segments->selectedItems();
    if (selected.isEmpty()) return std::nullopt;
    return selected.first()->data(0, Qt::UserRole).toInt();
}

void MemoReader::segmentChosen(QTreeWidgetItem *item) {
    const qsizetype index = item->data(0, Qt::UserRole).toLongLong();
    if (index < 0 || index >= m_reading.segments.size()) return;
    m_playback->seek(std::llround(m_reading.segments[index].start * 1000), true);
}

void MemoReader::followPlayback(qint64 positionMs) {
    const auto index = segmentAt(m_reading.segments, positionMs / 1000.0);
    if (index && selectedSegment() != int(*index)) selectSegment(*index);
}
