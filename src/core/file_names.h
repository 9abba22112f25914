#pragma once
// File names as the disk holds them: bytes. Qt reads them as UTF-8 and turns
// a byte that is not UTF-8 into U+FFFD, after which the file cannot be found
// again under that name. These two keep every byte: a byte outside valid
// UTF-8 is held as one character of a private-use range (U+F780 to U+F7FF)
// and written back as that byte. A name that really holds a character of
// that range is held byte by byte too, so the two can never be confused.
// Names in valid UTF-8 (every normal name) come out as Qt reads them.

#include <QByteArray>
#include <QString>

QString decodeFileName(const QByteArray &bytes);
QByteArray encodeFileName(const QString &name);

// True when Qt's own encoding would miss the file: `path` holds raw bytes.
bool holdsRawBytes(const QString &path);
