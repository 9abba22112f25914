#include "pipeline/header_values.h"

#include <nlohmann/json.hpp>

namespace {
bool needsQuotes(const QString &value) {
    if (value.startsWith(QLatin1Char('"'))) return true;
    for (const QChar c : value)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) return true;
    return false;
}
} // namespace

QString headerValue(const QString &value) {
    if (!needsQuotes(value)) return value;
    return QString::fromStdString(nlohmann::json(value.toStdString()).dump());
}

QString headerValueText(const QString &written) {
    if (!written.startsWith(QLatin1Char('"'))) return written;
    const auto parsed = nlohmann::json::parse(written.toStdString(), nullptr, false);
    if (parsed.is_discarded() || !parsed.is_string()) return written;
    return QString::fromStdString(parsed.get<std::string>());
}
