#pragma once
// Transcripts written without the language model, and how one of them is
// rewritten once corrected. Plain text and file walking only: the pass that
// drives them lives in the engine.

#include <QString>
#include <QStringList>

#include <optional>

#include "core/settings.h"

// True when a Markdown transcript says it was not corrected: a line reading
// exactly "correction: aucune", spaces aside. The key is case-sensitive.
bool isRawTranscript(const QString &markdown);

// The raw Markdown transcripts under `root` (hidden items skipped), shortest
// text first; equal lengths keep the order of the walk. Files that cannot be
// read are left out, and so is the organized archive under `archiveRoot`: its
// copies are not corrected. An unreadable root gives nothing. Safe on any thread.
QStringList rawTranscripts(const QString &root, const std::optional<QString> &archiveRoot = std::nullopt);

// The text to correct: what follows the first heading line, up to an earlier
// "## Transcription brute" section, trimmed. Nothing without a heading or
// when nothing is left.
std::optional<QString> correctionBody(const QString &markdown);

// The marker a corrected transcript carries: "Ollama (model)" or "Anthropic (model)".
QString passCorrectionLabel(const ParlivoSettings &settings);

// The Markdown transcript with its marker naming `label`, the corrected text
// under the heading and the raw text in its own section. Without a heading
// line only the marker changes.
QString correctedMarkdown(const QString &markdown, const QString &label, const QString &raw,
                          const QString &corrected);

// The plain-text transcript: its header, up to the rule of "=" and the blank
// line, followed by the corrected text alone.
QString correctedPlainText(const QString &plain, const QString &corrected);
