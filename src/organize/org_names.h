#pragma once
// Normalizing what the language model proposes: document type, category,
// title and folder names. Folder names come from the model, so they are made
// safe to use as one path component inside the archive.

#include <QString>

// One of idee, projet, journal, taches, reflexion, reunion, cours, autre.
QString normalizeType(const QString &value);

// perso, pro or incertain.
QString normalizeCategory(const QString &value);

// A one-line title of at most 70 characters; "Sans titre" when nothing is left.
QString sanitizeTitle(const QString &value);

// A single folder-name component: no separators or reserved characters, no
// control characters, no leading dot (so never "." or ".."), at most 70
// characters and a byte length every file system accepts; "Sans titre" when
// nothing is left.
QString sanitizeFolder(const QString &value);

// Lower case without accents: "Réunion" gives "reunion".
QString foldDiacritics(const QString &value);
