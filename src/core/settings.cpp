#include "core/settings.h"

#include <QDir>
#include <QStringList>
#include <QThread>

#include <QUrl>

#include <algorithm>
#include <climits>

using namespace jsonfield;

const QString ParlivoSettings::defaultCorrectionPrompt = QStringLiteral(
    "Tu es un correcteur de transcriptions vocales. On te donne le texte brut d'une dictée, issu "
    "d'une reconnaissance vocale automatique. Ta tâche : rendre ce texte parfaitement lisible sans "
    "jamais en trahir le contenu.\n\nRègles :\n- Corrige la ponctuation, les majuscules, les accents "
    "et les fautes évidentes de reconnaissance.\n- Découpe en phrases et en paragraphes cohérents.\n"
    "- Respecte scrupuleusement la langue d'origine du texte.\n- Ne change ni le sens, ni le "
    "vocabulaire, ni le style, ni le niveau de langue de l'orateur.\n- N'ajoute aucun contenu, ne "
    "résume pas, ne commente pas, n'invente rien.\n- Supprime seulement les hésitations parasites "
    "évidentes (euh, hum) et les répétitions accidentelles.\n- Réponds UNIQUEMENT avec le texte "
    "corrigé, sans préambule ni conclusion.");

Json toJson(const ParlivoSettings &s) {
    Json j = Json::object();
    j["modelPath"] = utf8(s.modelPath);
    j["language"] = utf8(s.language);
    j["outputFormat"] = utf8(rawValue(s.outputFormat));
    j["subtitleFormat"] = utf8(rawValue(s.subtitleFormat));
    j["destinationMode"] = utf8(rawValue(s.destinationMode));
    if (s.customDestination) j["customDestination"] = utf8(*s.customDestination);
    j["parallelism"] = s.parallelism;
    j["timestamps"] = s.timestamps;
    j["autoResume"] = s.autoResume;
    j["watchFolder"] = s.watchFolder;
    j["correctionEnabled"] = s.correctionEnabled;
    j["correctionBackend"] = utf8(rawValue(s.correctionBackend));
    j["ollamaEndpoint"] = utf8(s.ollamaEndpoint);
    j["ollamaModel"] = utf8(s.ollamaModel);
    j["anthropicModel"] = utf8(s.anthropicModel);
    j["anthropicKey"] = utf8(s.anthropicKey);
    j["keepRawTranscript"] = s.keepRawTranscript;
    j["correctionPrompt"] = utf8(s.correctionPrompt);
    j["organizeEnabled"] = s.organizeEnabled;
    if (s.organizeRoot) j["organizeRoot"] = utf8(*s.organizeRoot);
    j["organizeCopyAudio"] = s.organizeCopyAudio;
    j["organizeModel"] = utf8(s.organizeModel);
    Json servers = Json::array();
    for (const RecognitionServer &server : s.recognitionServers) {
        Json entry = {{"address", utf8(server.address)}};
        if (!server.accessKey.isEmpty()) entry["accessKey"] = utf8(server.accessKey);
        servers.push_back(std::move(entry));
    }
    j["recognitionServers"] = std::move(servers);
    return j;
}

int maxParallelism() { return std::max(1, QThread::idealThreadCount()); }

bool acceptableServerAddress(const QString &address) {
    const QUrl url(address, QUrl::StrictMode);
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

namespace {
// 0 is checked against the servers once every key is read.
bool acceptableParallelism(const int &n) { return n >= 0 && n <= maxParallelism(); }
bool acceptableLanguage(const QString &language) {
    return language == QLatin1String("auto") || language == QLatin1String("fr") || language == QLatin1String("en");
}
// A relative folder would depend on where the program happens to run.
bool acceptableFolder(const std::optional<QString> &folder) {
    return !folder || folder->isEmpty() || QDir::isAbsolutePath(*folder);
}

QString text(const Json &v, const char *key) { return string(v, key); }
std::optional<QString> optionalText(const Json &v, const char *key) { return string(v, key); }
int smallInteger(const Json &v, const char *key) {
    const qint64 n = integer(v, key);
    if (n < INT_MIN || n > INT_MAX) throw DecodeError(std::string(key) + " out of range");
    return int(n);
}
RecognitionServer recognitionServer(const Json &v) {
    if (v.is_string()) return {string(v, "recognitionServers"), {}};
    requireObject(v, "recognitionServers");
    const Json *address = find(v, "address");
    if (!address) throw DecodeError("recognition server without address");
    const Json *key = find(v, "accessKey");
    return {string(*address, "address"), key ? string(*key, "accessKey") : QString()};
}

// A JSON list of addresses or of {address, accessKey}, or one text of
// addresses separated by commas (as typed on the command line).
QList<RecognitionServer> recognitionServers(const Json &v, const char *key) {
    QList<RecognitionServer> out;
    if (v.is_string()) {
        for (const QString &address : string(v, key).split(QLatin1Char(','), Qt::SkipEmptyParts))
            if (!address.trimmed().isEmpty()) out.append({address.trimmed(), {}});
        return out;
    }
    if (!v.is_array()) throw DecodeError(std::string(key) + " is not a list");
    for (const Json &item : v) out.append(recognitionServer(item));
    return out;
}
bool acceptableServers(const QList<RecognitionServer> &servers) {
    return std::all_of(servers.cbegin(), servers.cend(),
                       [](const RecognitionServer &server) { return acceptableServerAddress(server.address); });
}

template <typename E> E enumeration(const Json &v, const char *key) { return enumValue<E>(v, key); }

// Reads key by key: a value of the wrong type or out of range leaves its
// field at the default and the key is noted, the other keys still count.
class KeyReader {
public:
    explicit KeyReader(const Json &json) : m_json(json) {}

    template <typename T>
    void read(const char *key, T &field, T (*decode)(const Json &, const char *),
              bool (*acceptable)(const T &) = nullptr) {
        const Json *value = find(m_json, key);
        if (!value) return;
        try {
            T decoded = decode(*value, key);
            if (!acceptable || acceptable(decoded)) {
                field = std::move(decoded);
                return;
            }
        } catch (const DecodeError &) {
        }
        setAside.append(QString::fromLatin1(key));
    }

    QStringList setAside;

private:
    const Json &m_json;
};
} // namespace

SettingsReading readSettings(const Json &j) {
    requireObject(j, "settings");
    SettingsReading reading;
    ParlivoSettings &s = reading.settings;
    KeyReader r(j);
    r.read("modelPath", s.modelPath, text);
    r.read("language", s.language, text, acceptableLanguage);
    r.read("outputFormat", s.outputFormat, enumeration<OutputFormat>);
    r.read("subtitleFormat", s.subtitleFormat, enumeration<SubtitleFormat>);
    r.read("destinationMode", s.destinationMode, enumeration<DestinationMode>);
    r.read("customDestination", s.customDestination, optionalText, acceptableFolder);
    r.read("parallelism", s.parallelism, smallInteger, acceptableParallelism);
    r.read("timestamps", s.timestamps, boolean);
    r.read("autoResume", s.autoResume, boolean);
    r.read("watchFolder", s.watchFolder, boolean);
    r.read("correctionEnabled", s.correctionEnabled, boolean);
    r.read("correctionBackend", s.correctionBackend, enumeration<CorrectionBackend>);
    r.read("ollamaEndpoint", s.ollamaEndpoint, text);
    r.read("ollamaModel", s.ollamaModel, text);
    r.read("anthropicModel", s.anthropicModel, text);
    r.read("anthropicKey", s.anthropicKey, text);
    r.read("keepRawTranscript", s.keepRawTranscript, boolean);
    r.read("correctionPrompt", s.correctionPrompt, text);
    r.read("organizeEnabled", s.organizeEnabled, boolean);
    r.read("organizeRoot", s.organizeRoot, optionalText, acceptableFolder);
    r.read("organizeCopyAudio", s.organizeCopyAudio, boolean);
    r.read("organizeModel", s.organizeModel, text);
    r.read("recognitionServers", s.recognitionServers, recognitionServers, acceptableServers);
    if (s.parallelism == 0 && s.recognitionServers.isEmpty()) {
        s.parallelism = ParlivoSettings{}.parallelism; // nothing would recognise the files
        r.setAside.append(QStringLiteral("parallelism"));
    }
    reading.setAside = std::move(r.setAside);
    return reading;
}

ParlivoSettings settingsFromJson(const Json &j) {
    SettingsReading reading = readSettings(j);
    if (!reading.setAside.isEmpty())
        throw DecodeError("unusable value for " + reading.setAside.join(QLatin1String(", ")).toStdString());
    return reading.settings;
}

QString settingRule(const QString &key) {
    if (key == QLatin1String("parallelism"))
        return QStringLiteral("un nombre entier de 1 à %1 (0 si des serveurs de reconnaissance sont réglés)")
            .arg(maxParallelism());
    if (key == QLatin1String("recognitionServers"))
        return QStringLiteral("des adresses http:// ou https:// séparées par des virgules, ou une liste JSON "
                              "de {\"address\", \"accessKey\"}");
    if (key == QLatin1String("language")) return QStringLiteral("auto, fr ou en");
    if (key == QLatin1String("subtitleFormat")) return QStringLiteral("none, srt, vtt ou both");
    if (key == QLatin1String("customDestination") || key == QLatin1String("organizeRoot"))
        return QStringLiteral("un chemin absolu");
    return {};
}

const QStringList &settingsKeys() {
    static const QStringList keys = [] {
        QStringList out;
        Json j = toJson(ParlivoSettings{});
        for (auto it = j.begin(); it != j.end(); ++it) out << QString::fromStdString(it.key());
        // The two optional paths are omitted from a default record; list them in place.
        out.insert(out.indexOf("destinationMode") + 1, "customDestination");
        out.insert(out.indexOf("organizeEnabled") + 1, "organizeRoot");
        return out;
    }();
    return keys;
}
