#pragma once
// Compact JSON text written straight from the records, in the same bytes a
// document dump would give. The queue and the ledger of a large folder are
// saved often: building a document first, then walking it to print it, cost
// more than everything else in a save.

#include <QByteArray>
#include <QString>

#include <optional>
#include <string_view>

class JsonWriter {
public:
    explicit JsonWriter(qsizetype expectedBytes = 0) { m_out.reserve(expectedBytes); }

    void beginObject() { open('{'); }
    void endObject() { close('}'); }
    void beginArray() { open('['); }
    void endArray() { close(']'); }
    // The key of the next value; keys are plain ASCII names, or paths.
    void key(std::string_view name);
    void key(const char *name) { key(std::string_view(name)); }
    void key(const QString &name);

    void value(std::string_view utf8);
    void value(const char *utf8) { value(std::string_view(utf8)); } // not a bool
    void value(const QString &text);
    void value(const QByteArray &utf8);
    void value(double number);
    void value(qint64 number);
    void value(int number) { value(qint64(number)); }
    void value(bool flag);

    // A key and its value; an absent optional writes nothing.
    template <typename T> void field(const char *name, const T &v) {
        key(name);
        value(v);
    }
    template <typename T> void field(const char *name, const std::optional<T> &v) {
        if (v) field(name, *v);
    }

    QByteArray take() { return std::move(m_out); }

private:
    void open(char bracket);
    void close(char bracket);
    void beforeValue();
    void appendEscaped(std::string_view utf8);

    QByteArray m_out;
    bool m_needsComma = false;
};
