#include "core/file_names.h"

namespace {
constexpr char32_t rawByteBase = 0xF780; // + (byte - 0x80)
constexpr char32_t rawByteLast = 0xF7FF;

bool isRawByteCharacter(char32_t c) { return c >= rawByteBase && c <= rawByteLast; }

// The code point of the valid UTF-8 sequence at `at`, and its length; 0 when
// the bytes there are not valid UTF-8 (overlong forms and surrogates included).
int utf8Sequence(const QByteArray &bytes, qsizetype at, char32_t &codePoint) {
    const auto byte = [&](qsizetype i) { return uchar(bytes[i]); };
    const uchar lead = byte(at);
    int length = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, codePoint = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, codePoint = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, codePoint = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (at + length > bytes.size()) return 0;
    for (int i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        codePoint = (codePoint << 6) | (byte(at + i) & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return 0;
    return length;
}
} // namespace

QString decodeFileName(const QByteArray &bytes) {
    QString name;
    qsizetype textStart = 0; // the run of valid UTF-8 not yet decoded
    for (qsizetype at = 0; at < bytes.size();) {
        char32_t codePoint = 0;
        const int length = utf8Sequence(bytes, at, codePoint);
        if (length > 0 && !isRawByteCharacter(codePoint)) {
            at += length;
            continue;
        }
        name += QString::fromUtf8(bytes.constData() + textStart, at - textStart);
        name += QChar(char16_t(rawByteBase + (uchar(bytes[at]) - 0x80)));
        textStart = ++at;
    }
    if (textStart == 0) return QString::fromUtf8(bytes);
    name += QString::fromUtf8(bytes.constData() + textStart, bytes.size() - textStart);
    return name;
}

QByteArray encodeFileName(const QString &name) {
    if (!holdsRawBytes(name)) return name.toUtf8();
    QByteArray bytes;
    bytes.reserve(name.size());
    qsizetype textStart = 0; // the run of ordinary characters not yet written
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (!isRawByteCharacter(name[i].unicode())) continue;
        bytes += QStringView(name).mid(textStart, i - textStart).toUtf8();
        bytes += char(name[i].unicode() - rawByteBase + 0x80);
        textStart = i + 1;
    }
    bytes += QStringView(name).mid(textStart).toUtf8();
    return bytes;
}

bool holdsRawBytes(const QString &path) {
    for (const QChar c : path)
        if (isRawByteCharacter(c.unicode())) return true;
    return false;
}
