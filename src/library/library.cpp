#include "library/library.h"

#include <QFileInfo>
#include <QPointer>

#include <utility>

#include <qcoro/qcorotask.h>

#include "core/atomic_file.h"
#include "core/background.h"
#include "core/folders.h"
#include "core/next_emission.h"
#include "library/library_transcripts.h"

Library::Library(EventLog &log, std::function<LibraryFolders()> folders, QObject *parent)
    : QObject(parent), m_log(log), m_folders(std::move(folders)) {}

Library::~Library() = default;

void Library::noteWritten(const QString &transcriptPath, const QList<Segment> &segments) {
    // Read back rather than handed over: the index then holds what a rebuild would find.
    const auto text = readUtf8File(transcriptPath);
    if (text) apply({transcriptPath, *text, segments});
}

void Library::noteCorrected(const QString &transcriptPath, const QString &fileText) {
    apply({transcriptPath, fileText, std::nullopt});
}

MemoLibrary *Library::index() {
    if (!m_index) m_index = std::make_unique<MemoLibrary>(folders::supportDir());
    if (const auto unusable = m_index->unusable()) {
        reportOnce(unusable);
        return nullptr;
    }
    rebuildIfRequested();
    return m_index.get();
}

void Library::apply(const Change &change) {
    MemoLibrary *library = index();
    if (!library) return;
    if (m_rebuilding) {
        m_changesDuringRebuild.append(change);
        return;
    }
    store(*library, change);
    rebuildIfRequested();
}

void Library::store(MemoLibrary &library, const Change &change) {
    auto memo = memoFromTranscript(change.transcriptPath, change.fileText);
    if (!memo) return;
    if (change.segments) {
        memo->segments = *change.segments;
    } else if (const auto indexed = library.memo(memo->transcriptPath); indexed && !indexed->segments.isEmpty()) {
        memo->segments = indexed->segments; // a correction changes the words, not when they were said
    }
    reportOnce(library.put(*memo));
}

void Library::rebuildIfRequested() {
    if (!m_rebuilding && m_index && m_index->takeRebuildRequest()) m_rebuildTask = rebuild();
}

QCoro::Task<> Library::rebuild() {
    m_rebuilding = true;
    const LibraryFolders where = m_folders();
    QPointer<Library> self(this);
    // (Named before the co_await: GCC 12 may destroy a temporary lambda twice there.)
    auto work = [folder = folders::supportDir(), where] {
        return MemoLibrary::rebuild(folder, where.folders, where.leftOut);
    };
    QCoro::Task<MemoLibrary::Rebuilt> running = onWorkerThread(std::move(work));
    const MemoLibrary::Rebuilt rebuilt = co_await std::move(running);
    if (!self) co_return;
    reportOnce(rebuilt.error);
    // Written while the rebuild read the folders: it may have missed them.
    for (const Change &change : std::exchange(m_changesDuringRebuild, {})) store(*m_index, change);
    m_rebuilding = false;
    emit rebuildFinished();
}

QCoro::Task<> Library::waitForRebuild() {
    while (m_rebuilding) co_await nextEmission(this, &Library::rebuildFinished);
}

QCoro::Task<MemoLibrary::Found> Library::search(SearchQuery query, int limit) {
    QPointer<Library> self(this);
    if (!index()) co_return MemoLibrary::Found{{}, m_index->unusable()};
    co_await waitForRebuild();
    if (!self) co_return MemoLibrary::Found{};
    MemoLibrary::Found found = m_index->search(query, limit);
    if (found.error) { // a corrupt file, found by this search: rebuilt, then asked again
        rebuildIfRequested();
        co_await waitForRebuild();
        if (!self) co_return MemoLibrary::Found{};
        found = m_index->search(query, limit);
    }
    QList<SearchHit> present;
    for (const SearchHit &hit : found.hits) {
        if (QFileInfo::exists(hit.transcriptPath))
            present.append(hit);
        else
            m_index->remove(hit.transcriptPath);
    }
    found.hits = present;
    co_return found;
}

QCoro::Task<std::optional<LibraryMemo>> Library::memo(QString transcriptPath) {
    QPointer<Library> self(this);
    transcriptPath = memoTranscriptPath(transcriptPath);
    if (index()) {
        co_await waitForRebuild();
        if (!self) co_return std::nullopt;
        if (auto indexed = m_index->memo(transcriptPath); indexed && QFileInfo::exists(transcriptPath)) co_return indexed;
    }
    const auto text = readUtf8File(transcriptPath);
    co_return text ? memoFromTranscript(transcriptPath, *text) : std::nullopt;
}

void Library::reportOnce(const std::optional<QString> &error) {
    // A cache that fails costs searches, not transcripts: one line is enough.
    if (!error || std::exchange(m_reported, true)) return;
    m_log.log(*error);
}
