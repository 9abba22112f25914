#pragma once
// The engine: one object on the main thread that owns the queue, the settings,
// the ledgers and every value the windows show. Its operations live in the
// folder of their area (state store in core/, pipeline in pipeline/, ...);
// this header only gathers the state.

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include <array>
#include <functional>
#include <optional>
#include <utility>

#include "core/records.h"
#include "core/settings.h"
#include "pipeline/tools.h"

class Transcriber : public QObject {
    Q_OBJECT

public:
    // Locates nothing itself: the caller hands the outside programs in, so the
    // tests can point the engine at stand-ins. Migrates and loads the stored state.
    explicit Transcriber(Tools tools, QObject *parent = nullptr);
    ~Transcriber() override;

    // ---- Settings (saved 1.2 s after the last change) ----
    const ParlivoSettings &settings() const { return m_settings; }
    void setSettings(const ParlivoSettings &settings);

    // ---- State store: settings.json, queue.json, ledger.json ----
    void migrateSupportDirIfNeeded();
    void load();
    void saveNow();
    void scheduleSave();
    bool isLoading() const { return m_isLoading; }
    bool hasPendingSave() const { return m_saveTimer.isActive(); }
    bool pendingWasRunning() const { return m_pendingWasRunning; }

    // ---- Log and notifications ----
    static constexpr int maxLogLines = 500;
    void log(const QString &message);
    void clearLog();
    const QStringList &logLines() const { return m_logLines; }
    void notify(const QString &title, const QString &body);
    void requestNotificationPermission();

    // ---- Queue and counters ----
    const QList<AudioFile> &files() const { return m_files; }
    const AudioFile *entry(const QUuid &id) const;
    int count(FileStatus status) const { return m_counts[size_t(status)]; }
    int pendingCount() const { return count(FileStatus::pending); }
    int runningCount() const { return count(FileStatus::running); }
    int doneCount() const { return count(FileStatus::done); }
    int skippedCount() const { return count(FileStatus::skipped); }
    int errorCount() const { return count(FileStatus::error); }
    int emptyCount() const { return count(FileStatus::empty); }
    void setStatus(const QUuid &id, FileStatus status);
    void adjust(FileStatus status, int by);
    void recomputeCounters();
    const Ledger &ledger() const { return m_ledger; }

    // ---- Source folders and file identity ----
    static const QStringList audioExtensions;
    const std::optional<QUrl> &sourceFolder() const { return m_sourceFolder; }
    void setSourceFolder(const QUrl &folder);
    void rescan();
    std::optional<QUrl> macVoiceMemosFolder() const;
    void useMacVoiceMemos();
    QString destinationDir(const QUrl &source) const;
    std::optional<QUrl> outputRootFolder() const;
    QString outputLocationDescription() const;
    void revealOutputFolder() const;

    // ---- Workspace: opening folders and files in the desktop's applications ----
    // The window hands in the desktop's opener; the default asks xdg-open.
    using UrlOpener = std::function<void(const QUrl &)>;
    void setUrlOpener(UrlOpener opener) { m_urlOpener = std::move(opener); }
    void openUrl(const QUrl &url) const;

    // ---- Scheduler (run state shown by the windows) ----
    bool isRunning() const { return m_isRunning; }
    bool isPaused() const { return m_isPaused; }

    // ---- Outside programs ----
    const Tools &tools() const { return m_tools; }
    bool toolsReady() const { return m_tools.ready(); }

signals:
    void settingsChanged();
    void logLineAdded(const QString &line);
    void logCleared();
    void queueChanged();                 // entries added, removed or replaced
    void entryChanged(const QUuid &id);  // one entry's status, progress or texts
    void countersChanged();
    void sourceFolderChanged();
    void runStateChanged();
    void stateSaved(); // the three state files were just written

private:
    AudioFile *mutableEntry(const QUuid &id);
    AudioFile restoredFromLedger(const QUrl &url) const;
    void replaceQueue(QList<AudioFile> files);
    void rebuildLedgerFromQueue();
    template <typename T, typename Decode> std::optional<T> readStateFile(const QString &name, Decode decode);

    // Outside programs, located once.
    Tools m_tools;

    // Options and durable state.
    ParlivoSettings m_settings;
    QList<AudioFile> m_files;
    Ledger m_ledger;
    std::optional<QUrl> m_sourceFolder;

    // State store.
    bool m_isLoading = false;
    bool m_pendingWasRunning = false;
    QTimer m_saveTimer;

    // Status counters, indexed by FileStatus.
    std::array<int, fileStatusCount> m_counts{};

    // Run state.
    bool m_isRunning = false;
    bool m_isPaused = false;

    // The rolling log.
    QStringList m_logLines;

    // Workspace.
    UrlOpener m_urlOpener;
};
