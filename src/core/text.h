#pragma once
// Small text helpers shared across areas.

#include <QString>

// `value` without any of `characters` at either end.
QString trimCharacters(const QString &value, const QString &characters);

inline QString trimSpacesAndTabs(const QString &value) { return trimCharacters(value, QStringLiteral(" \t")); }
