// Times the memo library on a user's years of memos: the index built from
// the transcripts, searches of several kinds, and the index's size against
// the transcripts'; then the same once every memo has its segments, as
// memos transcribed with the library in place do, and the window's reader
// opened on hits (offscreen). Prints one line per figure.
//
//   bench-library [MEMOS]        default 10000 memos of about 300 words

#include <QApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

#include "app/gui/memo_reader.h"
#include "core/atomic_file.h"
#include "library/library_transcripts.h"
#include "library/memo_library.h"
#include "pipeline/transcript_files.h"

namespace {

// Made-up French-looking words, drawn as in speech: a few very often, most rarely.
class Speech {
public:
    Speech() {
        const QStringList syllables{"ma", "ré", "to", "lu", "ven", "pè", "ci", "bon", "da", "gné", "fa", "trou",
                                    "cha", "sé", "mi", "ro", "quel", "à", "vi", "lé", "pou", "ça", "nu", "dé"};
        const int n = syllables.size();
        for (int i = 0; i < 6000; ++i) {
            QString word = syllables[i % n] + syllables[i / n % n];
            if (i >= n * n) word += syllables[i / (n * n)];
            m_words.append(word);
        }
        std::vector<double> weights;
        for (int rank = 1; rank <= m_words.size(); ++rank) weights.push_back(1.0 / rank);
        m_pick = std::discrete_distribution<int>(weights.begin(), weights.end());
    }

    // About `count` words in sentences of 8 to 16, one sentence a line.
    QString text(int count) {
        QStringList lines;
        for (int said = 0; said < count;) {
            const int length = 8 + int(m_random() % 9);
            QStringList sentence;
            for (int i = 0; i < length; ++i) sentence.append(m_words[m_pick(m_random)]);
            sentence[0][0] = sentence[0][0].toUpper();
            lines.append(sentence.join(' ') + '.');
            said += length;
        }
        return lines.join('\n');
    }

    QString word(int rank) const { return m_words[rank]; }

private:
    QStringList m_words;
    std::mt19937 m_random{20260314};
    std::discrete_distribution<int> m_pick;
};

qint64 writeMemos(const QString &root, int count, Speech &speech) {
    ParlivoSettings settings;
    settings.modelPath = "/home/u/.hestia/ggml-base.bin";
    qint64 bytes = 0;
    const QDateTime first(QDate(2023, 1, 1), QTime(8, 0));
    for (int i = 0; i < count; ++i) {
        const QString source = QStringLiteral("%1/%2/Mémo %3.m4a").arg(root).arg(2023 + i * 3 / count).arg(i);
        const TranscriptInputs inputs{source, first.addSecs(i * 3000LL), first.addSecs(i * 3000LL + 60), 120.0,
                                      {{0, 120, speech.text(300)}}, std::nullopt, {}};
        const QByteArray content = mdContent(inputs, settings).toUtf8();
        const QString path = transcriptPaths(source, QFileInfo(source).absolutePath()).md;
        if (auto error = makeFolderFor(path)) return -1;
        if (auto error = writeFileAtomically(path, content)) return -1;
        bytes += content.size();
    }
    return bytes;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

qint64 folderBytes(const QString &folder) {
    qint64 bytes = 0;
    for (QDirIterator it(folder, QDir::Files); it.hasNext();) bytes += QFileInfo(it.next()).size();
    return bytes;
}

// Wall time, and the time this process had the processor: on a busy
// machine the second says more about the program.
class Stopwatch {
public:
    Stopwatch() { restart(); }
    void restart() {
        m_wall.start();
        m_cpu = cpuSeconds();
    }
    double wall() const { return m_wall.nsecsElapsed() / 1e9; }
    double cpu() const { return cpuSeconds() - m_cpu; }

private:
    static double cpuSeconds() {
        timespec now{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return now.tv_sec + now.tv_nsec / 1e9;
    }
    QElapsedTimer m_wall;
    double m_cpu = 0;
};

std::optional<QList<LibraryMemo>> buildIndex(const QString &memos, const QString &index, int count) {
    Stopwatch reading;
    const QList<LibraryMemo> read = readTranscriptsUnder({memos}, std::nullopt);
    const double readWall = reading.wall(), readCpu = reading.cpu();
    Stopwatch indexing;
    std::optional<QString> error;
    {
        MemoLibrary library(index);
        error = library.replaceAll(read);
    }
    if (error || read.size() != count) {
        std::fprintf(stderr, "index of %lld memos: %s\n", (long long)read.size(), qPrintable(error.value_or("")));
        return std::nullopt;
    }
    std::printf("index of %d memos built from the transcripts: %.2f s, processor %.2f s (reading %.2f s, indexing "
                "%.2f s; target < 10 s)\n",
                count, readWall + indexing.wall(), readCpu + indexing.cpu(), readWall, indexing.wall());
    return read;
}

// Memos transcribed once the library is there carry their segments, and a
// search then finds the time of each hit: one segment a line, 4 s each.
bool addSegments(const QString &index, QList<LibraryMemo> memos) {
    for (LibraryMemo &memo : memos) {
        const QStringList lines = memo.text.split('\n');
        for (qsizetype i = 0; i < lines.size(); ++i) memo.segments.append({i * 4.0, i * 4.0 + 4, ' ' + lines[i]});
    }
    Stopwatch adding;
    MemoLibrary library(index);
    if (auto error = library.replaceAll(memos)) {
        std::fprintf(stderr, "segments: %s\n", qPrintable(*error));
        return false;
    }
    std::printf("segments of every memo added: %.2f s\n", adding.wall());
    return true;
}

void timeSearches(const QString &index, const Speech &speech) {
    MemoLibrary library(index);
    const QList<std::pair<const char *, QString>> queries{
        {"the 3rd commonest word", speech.word(2)},
        {"a word of rank 40", speech.word(40)},
        {"a word of rank 3000", speech.word(3000)},
        {"two common words", speech.word(5) + " " + speech.word(9)},
        {"a phrase of the 2 commonest", "\"" + speech.word(1) + " " + speech.word(0) + "\""},
        {"in capitals, accents off", speech.word(17).toUpper()},
        {"a word in no memo", "zzz"},
    };
    for (const auto &[what, input] : queries) {
        const SearchQuery query = parseSearchQuery(input);
        std::vector<double> walls, cpus;
        qsizetype hits = 0;
        for (int round = 0; round < 15; ++round) {
            Stopwatch search;
            hits = library.search(query).hits.size();
            walls.push_back(search.wall() * 1e3);
            cpus.push_back(search.cpu() * 1e3);
        }
        std::printf("search %-28s %s %3lld hits: %6.2f ms, processor %6.2f ms (medians of 15; target < 30 ms)\n",
                    what, qPrintable(QString("%1").arg(input, -13)), (long long)hits, median(walls), median(cpus));
    }
}

// What a click on a hit costs: the memo and its segments read from the
// index, laid out in the reader, the hit's segment selected and the
// recording asked for at its start.
void timeReaderOpening(const QString &index, const Speech &speech) {
    MemoLibrary library(index);
    MemoReader reader;
    reader.resize(700, 600);
    reader.show();
    const QList<SearchHit> hits = library.search(parseSearchQuery(speech.word(40)), 30).hits;
    std::vector<double> walls;
    for (const SearchHit &hit : hits) {
        Stopwatch opening;
        const auto memo = library.memo(hit.transcriptPath);
        if (memo) reader.showMemo(*memo, hit);
        QApplication::processEvents(); // the reader drawn as the user sees it
        walls.push_back(opening.wall() * 1e3);
    }
    if (walls.empty()) return;
    std::printf("reader opened on a hit: %.2f ms, slowest %.2f ms (median of %zu hits; target < 100 ms)\n",
                median(walls), *std::max_element(walls.begin(), walls.end()), walls.size());
}

} // namespace

int main(int argc, char **argv) {
    // The reader is a widget: drawn offscreen unless a display is asked for.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 10000;
    QTemporaryDir work;
    const QString memos = work.filePath("memos"), index = work.filePath("index");
    QDir().mkpath(index);
    Speech speech;
    const qint64 transcriptBytes = writeMemos(memos, count, speech);
    if (transcriptBytes < 0) {
        std::fprintf(stderr, "the transcripts could not be written\n");
        return 1;
    }
    const auto indexed = buildIndex(memos, index, count);
    if (!indexed) return 1;
    const qint64 indexBytes = folderBytes(index);
    std::printf("index %.1f MB for %.1f MB of transcripts: x%.2f (target < 2)\n", indexBytes / 1e6,
                transcriptBytes / 1e6, double(indexBytes) / transcriptBytes);
    timeSearches(index, speech);
    if (!addSegments(index, *indexed)) return 1;
    const qint64 withSegments = folderBytes(index);
    std::printf("index with the segments %.1f MB: x%.2f\n", withSegments / 1e6, double(withSegments) / transcriptBytes);
    timeSearches(index, speech);
    timeReaderOpening(index, speech);
    return 0;
}
