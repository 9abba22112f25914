#pragma once
// Where in the recording a search hit was said: the segment holding the words
// the passage marks. The memo text may be corrected while the segments keep
// the recogniser's words, so words are compared folded (no accents, no case)
// and, when the same words come back several times, the occurrence the
// passage shows is the one looked for.

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

#include "library/search_passage.h"
#include "pipeline/whisper_output.h"

// The words of `text` as the index sees them: letters, digits and their
// accents, without accents and in lower case.
QStringList foldedWords(QStringView text);

// The index in `segments` of the segment holding the first marked run of
// `passage`, cut from the memo text `text`; nothing when the words are in no
// segment (a corrected text may have reworded them).
std::optional<qsizetype> segmentUnderHit(const QString &text, const Passage &passage, const QList<Segment> &segments);
