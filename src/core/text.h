#pragma once
// Small text helpers shared across areas.

#include <QString>

// `value` without any of `characters` at either end.
QString trimCharacters(const QString &value, const QString &characters);

inline QString trimSpacesAndTabs(const QString &value) { return trimCharacters(value, QStringLiteral(" \t")); }

// The text on one line: a line break (CR LF, LF or CR) shows as \n, a tab as
// \t and any other control character as \u followed by its four hex digits,
// so a file name can neither break a line of the log or of a listing nor
// split a tab-separated field.
QString singleLine(const QString &text);
