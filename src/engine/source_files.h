#pragma once
// File-system rules for source folders: which files are audio, in what order,
// how a file is recognised again, and where its transcripts go.

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

struct FileIdentity {
    qint64 size = 0;
    double mtime = 0; // content modification time, seconds since 1970
};

// Size and modification time; nothing when either cannot be read.
std::optional<FileIdentity> fileIdentity(const QString &path);

// Ledger identity: same size and modification times less than a second apart.
bool sameIdentity(const FileIdentity &now, qint64 size, double mtime);

// Regular audio files under `folder`, recursively, in natural order of their
// full path. Hidden items, packages, ApplicationAssets folders and
// `skippedFolders` (given as full paths) are left out.
QList<QUrl> scanAudioFiles(const QUrl &folder, const QStringList &extensions,
                           const QStringList &skippedFolders = {});

// Sorts paths as a file manager does: case-insensitive, digit runs by value,
// whatever the process locale. The first `sharedPrefix` characters, the same
// in every path, are not compared.
void naturalSort(QStringList &paths, qsizetype sharedPrefix = 0);

// The components of `folder` left after those it shares with `base`, joined by "/".
QString relativePath(const QUrl &folder, const QUrl &base);

// The .txt candidate when it exists, else the .md one, else nothing.
std::optional<QString> existingOutputPath(const QString &txtPath, const QString &mdPath);
