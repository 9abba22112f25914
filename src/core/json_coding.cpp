#include "core/json_coding.h"

#include "core/json_writer.h"

#include <cmath>

namespace jsonfield {

const Json *find(const Json &object, const char *key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

void requireObject(const Json &json, const char *what) {
    if (!json.is_object()) throw DecodeError(std::string(what) + " is not an object");
}

QString string(const Json &value, const char *key) {
    if (!value.is_string()) throw DecodeError(std::string(key) + " is not a string");
    return QString::fromStdString(value.get_ref<const std::string &>());
}

double number(const Json &value, const char *key) {
    if (!value.is_number()) throw DecodeError(std::string(key) + " is not a number");
    return value.get<double>();
}

qint64 integer(const Json &value, const char *key) {
    if (value.is_number_integer()) return value.get<qint64>();
    // A whole number written with a fraction part (3.0) is still an integer.
    if (value.is_number_float()) {
        double d = value.get<double>();
        if (std::isfinite(d) && std::trunc(d) == d && std::fabs(d) < 9.2e18) return qint64(d);
    }
    throw DecodeError(std::string(key) + " is not an integer");
}

bool boolean(const Json &value, const char *key) {
    if (!value.is_boolean()) throw DecodeError(std::string(key) + " is not a boolean");
    return value.get<bool>();
}

QUrl url(const Json &value, const char *key) {
    QUrl parsed(string(value, key), QUrl::StrictMode);
    if (!parsed.isValid() || parsed.isRelative()) throw DecodeError(std::string(key) + " is not a URL");
    return parsed;
}

QUuid uuid(const Json &value, const char *key) {
    QUuid parsed = QUuid::fromString(string(value, key));
    if (parsed.isNull()) throw DecodeError(std::string(key) + " is not a UUID");
    return parsed;
}

} // namespace jsonfield

using namespace jsonfield;

QString urlText(const QUrl &url) { return url.toString(QUrl::FullyEncoded); }

Json parseJson(const QByteArray &bytes) {
    try {
        return Json::parse(bytes.constBegin(), bytes.constEnd());
    } catch (const Json::exception &e) {
        throw DecodeError(e.what());
    }
}

namespace {
// Reads a document member by member: each top-level value is built on its
// own and handed over, so a ledger of thousands of files never exists twice
// in memory, and no large object is searched key by key.
class MemberReader final : public nlohmann::json_sax<Json> {
public:
    using Member = std::function<void(std::string &&, Json &&)>;
    explicit MemberReader(const Member &member) : m_member(member) {}

    bool null() override { return add(Json(nullptr)); }
    bool boolean(bool value) override { return add(Json(value)); }
    bool number_integer(number_integer_t value) override { return add(Json(value)); }
    bool number_unsigned(number_unsigned_t value) override { return add(Json(value)); }
    bool number_float(number_float_t value, const string_t &) override { return add(Json(value)); }
    bool string(string_t &value) override { return add(Json(std::move(value))); }
    bool binary(binary_t &value) override { return add(Json::binary(std::move(value))); }
    bool start_object(std::size_t) override {
        if (!m_inDocument) return m_inDocument = true;
        return open(Json::object());
    }
    bool key(string_t &name) override {
        (m_open.empty() ? m_memberKey : m_keys.back()) = std::move(name);
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(Json::array()); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &error) override {
        throw DecodeError(error.what());
    }

private:
    bool add(Json &&value) {
        if (!m_inDocument) throw DecodeError("not an object");
        if (m_open.empty()) {
            m_member(std::move(m_memberKey), std::move(value));
            return true;
        }
        Json &top = *m_open.back();
        if (top.is_object())
            top[m_keys.back()] = std::move(value);
        else
            top.push_back(std::move(value));
        return true;
    }
    bool open(Json &&container) {
        if (!m_inDocument) throw DecodeError("not an object");
        if (m_open.empty()) {
            m_value = std::move(container);
            m_open.push_back(&m_value);
        } else {
            // Only the innermost open value grows, so the pointers to its
            // parents stay valid.
            Json &top = *m_open.back();
            if (top.is_object()) {
                m_open.push_back(&(top[m_keys.back()] = std::move(container)));
            } else {
                top.push_back(std::move(container));
                m_open.push_back(&top.back());
            }
        }
        m_keys.emplace_back();
        return true;
    }
    bool close() {
        if (m_open.empty()) return true; // the document's own object
        m_open.pop_back();
        m_keys.pop_back();
        if (m_open.empty()) m_member(std::move(m_memberKey), std::move(m_value));
        return true;
    }

    const Member &m_member;
    bool m_inDocument = false;
    std::string m_memberKey;
    Json m_value;
    std::vector<Json *> m_open;
    std::vector<std::string> m_keys; // the pending key of each open object
};
} // namespace

void forEachMember(const QByteArray &bytes, const std::function<void(std::string &&, Json &&)> &member) {
    MemberReader reader(member);
    try {
        Json::sax_parse(bytes.constBegin(), bytes.constEnd(), &reader);
    } catch (const Json::exception &e) {
        throw DecodeError(e.what());
    }
}

QByteArray dumpCompact(const Json &json) {
    // Invalid UTF-8 in a text is replaced rather than failing the whole save.
    auto text = json.dump(-1, ' ', false, Json::error_handler_t::replace);
    return QByteArray(text.data(), qsizetype(text.size()));
}

namespace {
void writeAudioFile(JsonWriter &out, const AudioFile &file) {
    out.beginObject();
    out.field("id", file.id.toByteArray(QUuid::WithoutBraces).toUpper());
    out.field("url", file.url.toEncoded(QUrl::FullyEncoded));
    out.field("status", rawValue(file.status));
    out.field("progress", file.progress);
    out.field("errorMessage", file.errorMessage);
    out.field("durationSeconds", file.durationSeconds);
    out.field("outputPath", file.outputPath);
    out.endObject();
}

void writeLedgerEntry(JsonWriter &out, const LedgerEntry &e) {
    out.beginObject();
    out.field("size", e.size);
    out.field("mtime", e.mtime);
    out.field("status", e.status);
    out.field("outputPath", e.outputPath);
    out.field("date", e.date);
    out.field("errorMessage", e.errorMessage);
    out.field("attempts", e.attempts);
    out.endObject();
}

// Roughly what one entry takes, so the text is allocated once.
constexpr qsizetype bytesPerEntry = 256;
} // namespace

QByteArray encodeQueue(const PersistedState &state) {
    JsonWriter out(state.files.size() * bytesPerEntry);
    out.beginObject();
    if (state.sourceFolder) out.field("sourceFolder", urlText(*state.sourceFolder));
    out.key("files");
    out.beginArray();
    for (const AudioFile &file : state.files) writeAudioFile(out, file);
    out.endArray();
    out.field("wasRunning", state.wasRunning);
    out.endObject();
    return out.take();
}

QByteArray encodeLedger(const Ledger &ledger) {
    JsonWriter out(qsizetype(ledger.size()) * bytesPerEntry);
    out.beginObject();
    for (const auto &[path, entry] : ledger) {
        out.key(path);
        writeLedgerEntry(out, entry);
    }
    out.endObject();
    return out.take();
}

AudioFile audioFileFromJson(const Json &j) {
    requireObject(j, "file");
    AudioFile file;
    file.id = uuid(j.at("id"), "id");
    file.url = url(j.at("url"), "url");
    file.status = enumValue<FileStatus>(j.at("status"), "status");
    file.progress = number(j.at("progress"), "progress");
    if (auto *v = find(j, "errorMessage")) file.errorMessage = string(*v, "errorMessage");
    if (auto *v = find(j, "durationSeconds")) file.durationSeconds = number(*v, "durationSeconds");
    if (auto *v = find(j, "outputPath")) file.outputPath = string(*v, "outputPath");
    return file;
}

LedgerEntry ledgerEntryFromJson(const Json &j) {
    requireObject(j, "ledger entry");
    LedgerEntry e;
    e.size = integer(j.at("size"), "size");
    e.mtime = number(j.at("mtime"), "mtime");
    e.status = string(j.at("status"), "status");
    if (auto *v = find(j, "outputPath")) e.outputPath = string(*v, "outputPath");
    e.date = number(j.at("date"), "date");
    if (auto *v = find(j, "errorMessage")) e.errorMessage = string(*v, "errorMessage");
    if (auto *v = find(j, "attempts")) e.attempts = int(integer(*v, "attempts"));
    return e;
}

Ledger ledgerFromText(const QByteArray &bytes) { return keyedMapFromText<Ledger>(bytes, ledgerEntryFromJson); }

PersistedState persistedStateFromJson(const Json &j) {
    requireObject(j, "queue");
    PersistedState state;
    if (auto *v = find(j, "sourceFolder")) state.sourceFolder = url(*v, "sourceFolder");
    const Json &files = j.at("files");
    if (!files.is_array()) throw DecodeError("files is not an array");
    state.files.reserve(qsizetype(files.size()));
    for (const auto &f : files) state.files.append(audioFileFromJson(f));
    state.wasRunning = boolean(j.at("wasRunning"), "wasRunning");
    return state;
}
