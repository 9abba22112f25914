#pragma once
// File-system rules for source folders: which files are audio, in what order,
// how a file is recognised again, and where its transcripts go.

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

struct FileIdentity {
    qint64 size = 0;
    double mtime = 0; // content modification time, seconds since 1970

    bool operator==(const FileIdentity &) const = default;
};

// Size and modification time; nothing when either cannot be read.
std::optional<FileIdentity> fileIdentity(const QString &path);
// The same for a regular file (or a link to one) only: a pipe is never a recording.
std::optional<FileIdentity> regularFileIdentity(const QString &path);
// fileIdentity of each path, read by every processor at once: in a scan of
// thousands of known files the stat calls are a fifth of the time.
QList<std::optional<FileIdentity>> fileIdentities(const QStringList &paths);

// Ledger identity: same size and modification times less than a second apart.
bool sameIdentity(const FileIdentity &now, qint64 size, double mtime);

// Regular audio files under `folder`, recursively, in natural order of their
// full path. Hidden items, packages, ApplicationAssets folders and
// `skippedFolders` (given as full paths) are left out.
QList<QUrl> scanAudioFiles(const QUrl &folder, const QStringList &extensions,
                           const QStringList &skippedFolders = {});

// The same walk from the cleaned path `root`, in the walk's order, calling
// `entering` with each folder (the root first) before listing it.
QStringList audioFilesUnder(const QString &root, const QStringList &extensions, const QStringList &skippedFolders,
                            const std::function<void(const QString &folder)> &entering = {});

// The walk's rules for one item, given its full path: a folder it enters, a
// file it takes.
bool isScannedFolder(const QString &path, const QStringList &skippedFolders);
bool isScannedAudio(const QString &path, const QStringList &extensions);

// Sorts paths as a file manager does: case-insensitive, digit runs by value,
// whatever the process locale. The first `sharedPrefix` characters, the same
// in every path, are not compared.
void naturalSort(QStringList &paths, qsizetype sharedPrefix = 0);

// The components of `folder` left after those it shares with `base`, joined by "/".
QString relativePath(const QUrl &folder, const QUrl &base);

// True when `path` is `folder` itself or lies below it (lexically, after cleaning).
bool isInsideFolder(const QString &path, const QString &folder);

// Those of `folders` that lie strictly inside `source` (the source itself
// excluded), cleaned; empty texts are ignored. What Parlivo writes there (the
// organized archive, a transcript destination) is left out of the scan.
QStringList foldersStrictlyInside(const QString &source, const QStringList &folders);

// The Markdown files under `root`, recursively, in the walk's order. Hidden
// items are left out and linked folders not followed (a link back up would
// never end); so is everything inside `leftOut` (the organized archive, whose
// copies of the transcripts are not transcripts of their own).
QStringList markdownFilesUnder(const QString &root, const std::optional<QString> &leftOut);

// The .txt candidate when it exists, else the .md one, else nothing.
std::optional<QString> existingOutputPath(const QString &txtPath, const QString &mdPath);
