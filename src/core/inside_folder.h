#pragma once
// Whether a path lies in a folder, by its text: the organized archive and a
// transcript destination can sit inside the source folder, and what Parlivo
// writes there must not be taken for the user's recordings.

#include <QString>
#include <QStringList>

// True when `path` is `folder` itself or lies below it (lexically, after cleaning).
bool isInsideFolder(const QString &path, const QString &folder);

// Those of `folders` that lie strictly inside `source` (the source itself
// excluded), cleaned; empty texts are ignored.
QStringList foldersStrictlyInside(const QString &source, const QStringList &folders);
