#pragma once
// JSON coding of the stored records. Keys are written in the records' order,
// optional fields are omitted when absent, and any fault (missing required key,
// wrong type, unknown enum raw value) raises DecodeError for the whole document.

#include <QString>
#include <QUrl>
#include <QUuid>

#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>

#include "core/records.h"

using Json = nlohmann::ordered_json;

struct DecodeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

Json toJson(const AudioFile &file);
Json toJson(const LedgerEntry &entry);
Json toJson(const Ledger &ledger);
Json toJson(const PersistedState &state);

AudioFile audioFileFromJson(const Json &json);
LedgerEntry ledgerEntryFromJson(const Json &json);
Ledger ledgerFromJson(const Json &json);
PersistedState persistedStateFromJson(const Json &json);

// Parses compact or indented JSON text; DecodeError on malformed text.
Json parseJson(const QByteArray &bytes);
QByteArray dumpCompact(const Json &json);

// Small typed readers shared by every decoder.
namespace jsonfield {
const Json *find(const Json &object, const char *key); // null when missing or null
void requireObject(const Json &json, const char *what);
QString string(const Json &value, const char *key);
double number(const Json &value, const char *key);
qint64 integer(const Json &value, const char *key);
bool boolean(const Json &value, const char *key);
QUrl url(const Json &value, const char *key);
QUuid uuid(const Json &value, const char *key);

template <typename E> E enumValue(const Json &value, const char *key) {
    auto parsed = fromRaw<E>(string(value, key));
    if (!parsed) throw DecodeError(std::string("unknown value for ") + key);
    return *parsed;
}
} // namespace jsonfield

inline std::string utf8(const QString &text) { return text.toStdString(); }
QString urlText(const QUrl &url);
QString uuidText(const QUuid &id);
