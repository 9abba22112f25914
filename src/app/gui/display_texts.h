#pragma once
// The texts and colours the window shows for the engine's values. Pure
// functions, so the tests check them without a window.

#include <QColor>
#include <QList>
#include <QPair>
#include <QString>

#include <array>
#include <optional>

#include "core/enums.h"

// The spoken-language choices: setting value and French name, "auto" first.
const QList<QPair<QString, QString>> &languageChoices();
// "Détection automatique", "Français", "Anglais"; an unknown code as it is.
QString languageDisplay(const QString &code);

// The tint of a status in the file list; pending uses `muted`.
QColor statusColor(FileStatus status, const QColor &muted);

// "45 %" (French spacing), from a 0..1 fraction; clamped.
QString percentText(double fraction);

// "44 fichiers : 12 en attente · 2 en cours · 30 terminés", zero counts left
// out; "Aucun fichier" for an empty queue.
QString countersText(const std::array<int, fileStatusCount> &counts);

// "Écoulé : 2 min 5 s · 12,5 fichiers/min · Reste : 3 min 10 s"; the rate
// and the remaining time only once known.
QString liveFiguresText(double elapsed, double ratePerMin, std::optional<double> eta);

// "memo.m4a", or "memo.m4a (+2 autres)" when several files run at once.
QString runningFilesText(const QString &primary, int runningCount);

// A number with French decimals: "12,5" for (12.5, 1).
QString frenchDecimal(double value, int decimals);

// A size in bytes as "1,6 Go", "148 Mo", "12 Ko".
QString sizeText(qint64 bytes);
