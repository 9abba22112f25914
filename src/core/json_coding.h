#pragma once
// JSON coding of the stored records. Keys are written in the records' order,
// optional fields are omitted when absent, and any fault (missing required key,
// wrong type, unknown enum raw value) raises DecodeError for the whole document.

#include <QString>
#include <QUrl>
#include <QUuid>

#include <nlohmann/json.hpp>
#include <functional>
#include <optional>
#include <stdexcept>

#include "core/records.h"

using Json = nlohmann::ordered_json;

struct DecodeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The compact text of queue.json and ledger.json.
QByteArray encodeQueue(const PersistedState &state);
QByteArray encodeLedger(const Ledger &ledger);

AudioFile audioFileFromJson(const Json &json);
LedgerEntry ledgerEntryFromJson(const Json &json);
Ledger ledgerFromText(const QByteArray &bytes);
PersistedState persistedStateFromJson(const Json &json);

// Parses compact or indented JSON text; DecodeError on malformed text.
Json parseJson(const QByteArray &bytes);
QByteArray dumpCompact(const Json &json);

// Maps keyed by file path hold thousands of keys, and an ordered_json object
// finds each key by a linear search: building or parsing one key by key would
// take quadratic time. These two go through the underlying list instead.
template <typename Map, typename Encode> Json keyedObject(const Map &map, Encode encode) {
    Json json = Json::object();
    auto &items = static_cast<std::vector<std::pair<const std::string, Json>> &>(json.get_ref<Json::object_t &>());
    items.reserve(map.size());
    for (const auto &[key, value] : map) items.emplace_back(key.toStdString(), encode(value));
    return json;
}

// Hands each member of the JSON object in `bytes` to `member` as it is read,
// without building the whole document; DecodeError on malformed text or
// when the text is not an object.
void forEachMember(const QByteArray &bytes, const std::function<void(std::string &&key, Json &&value)> &member);

// Decodes a JSON object text into a path-keyed map; DecodeError on any fault.
// A key given twice keeps its last value.
template <typename Map, typename Decode> Map keyedMapFromText(const QByteArray &bytes, Decode decode) {
    Map map;
    forEachMember(bytes, [&](std::string &&key, Json &&value) {
        map.insert_or_assign(QString::fromStdString(key), decode(value));
    });
    return map;
}

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
