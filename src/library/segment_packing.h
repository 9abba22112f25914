#pragma once
// A memo's segments as the library stores them: one compressed block per
// memo. Their text repeats the memo's, so stored row by row it would double
// the size of the index.

#include <QByteArray>
#include <QList>

#include "pipeline/whisper_output.h"

QByteArray packSegments(const QList<Segment> &segments);

// Nothing from a block that does not unpack.
QList<Segment> unpackSegments(const QByteArray &packed);
