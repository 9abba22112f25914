#include "core/json_writer.h"

#include <nlohmann/json.hpp>

#include <charconv>

void JsonWriter::beforeValue() {
    if (m_needsComma) m_out.append(',');
    m_needsComma = true;
}

void JsonWriter::open(char bracket) {
    beforeValue();
    m_out.append(bracket);
    m_needsComma = false;
}

void JsonWriter::close(char bracket) {
    m_out.append(bracket);
    m_needsComma = true;
}

void JsonWriter::key(std::string_view name) {
    beforeValue();
    appendEscaped(name);
    m_out.append(':');
    m_needsComma = false;
}

namespace {
std::string_view view(const QByteArray &bytes) { return {bytes.constData(), std::size_t(bytes.size())}; }
} // namespace

void JsonWriter::key(const QString &name) { key(view(name.toUtf8())); }

void JsonWriter::value(std::string_view utf8) {
    beforeValue();
    appendEscaped(utf8);
}

void JsonWriter::value(const QString &text) { value(view(text.toUtf8())); }

void JsonWriter::value(const QByteArray &utf8) { value(view(utf8)); }

void JsonWriter::value(double number) {
    beforeValue();
    // The library's own shortest form ("1.0", "1e+21", null for NaN), so a
    // file reads and compares the same whichever way it was written.
    const std::string text = nlohmann::json(number).dump();
    m_out.append(text.data(), qsizetype(text.size()));
}

void JsonWriter::value(qint64 number) {
    beforeValue();
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    m_out.append(digits, end - digits);
}

void JsonWriter::value(bool flag) {
    beforeValue();
    m_out.append(flag ? "true" : "false");
}

void JsonWriter::appendEscaped(std::string_view utf8) {
    // Text from QString is valid UTF-8: only quotes, backslashes and control
    // characters need escaping, and runs without them are copied whole.
    static constexpr char hex[] = "0123456789abcdef";
    m_out.append('"');
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        m_out.append(utf8.data() + runStart, qsizetype(i - runStart));
        runStart = i + 1;
        switch (c) {
        case '"': m_out.append("\\\""); break;
        case '\\': m_out.append("\\\\"); break;
        case '\b': m_out.append("\\b"); break;
        case '\f': m_out.append("\\f"); break;
        case '\n': m_out.append("\\n"); break;
        case '\r': m_out.append("\\r"); break;
        case '\t': m_out.append("\\t"); break;
        default:
            m_out.append("\\u00");
            m_out.append(hex[c >> 4]);
            m_out.append(hex[c & 0xf]);
        }
    }
    m_out.append(utf8.data() + runStart, qsizetype(utf8.size() - runStart));
    m_out.append('"');
}
