#pragma once
// Lengths and cuts in user-perceived characters (grapheme clusters), so a cut
// never splits an accented letter or an emoji into an invalid string.

#include <QString>

qsizetype graphemeCount(const QString &text);

// The first `count` characters of `text` (all of it when shorter).
QString leftGraphemes(const QString &text, qsizetype count);

// The longest prefix of whole characters whose UTF-8 form fits in `maxBytes`.
QString leftUtf8Bytes(const QString &text, qsizetype maxBytes);
