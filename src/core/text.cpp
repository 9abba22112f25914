#include "core/text.h"

QString trimCharacters(const QString &value, const QString &characters) {
    qsizetype start = 0;
    qsizetype end = value.size();
    while (start < end && characters.contains(value[start])) ++start;
    while (end > start && characters.contains(value[end - 1])) --end;
    return value.mid(start, end - start);
}
