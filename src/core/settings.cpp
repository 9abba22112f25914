#include "core/settings.h"

#include <QStringList>

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
    j["destinationMode"] = utf8(rawValue(s.destinationMode));
    if (s.customDestination) j["customDestination"] = utf8(*s.customDestination);
    j["parallelism"] = s.parallelism;
    j["timestamps"] = s.timestamps;
    j["autoResume"] = s.autoResume;
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
    return j;
}

namespace {
void read(const Json &j, const char *key, QString &field) {
    if (auto *v = find(j, key)) field = string(*v, key);
}
void read(const Json &j, const char *key, std::optional<QString> &field) {
    if (auto *v = find(j, key)) field = string(*v, key);
}
void read(const Json &j, const char *key, bool &field) {
    if (auto *v = find(j, key)) field = boolean(*v, key);
}
void read(const Json &j, const char *key, int &field) {
    if (auto *v = find(j, key)) {
        qint64 n = integer(*v, key);
        if (n < INT_MIN || n > INT_MAX) throw DecodeError("parallelism out of range");
        field = int(n);
    }
}
template <typename E> void readEnum(const Json &j, const char *key, E &field) {
    if (auto *v = find(j, key)) field = enumValue<E>(*v, key);
}
} // namespace

ParlivoSettings settingsFromJson(const Json &j) {
    requireObject(j, "settings");
    ParlivoSettings s;
    read(j, "modelPath", s.modelPath);
    read(j, "language", s.language);
    readEnum(j, "outputFormat", s.outputFormat);
    readEnum(j, "destinationMode", s.destinationMode);
    read(j, "customDestination", s.customDestination);
    read(j, "parallelism", s.parallelism);
    read(j, "timestamps", s.timestamps);
    read(j, "autoResume", s.autoResume);
    read(j, "correctionEnabled", s.correctionEnabled);
    readEnum(j, "correctionBackend", s.correctionBackend);
    read(j, "ollamaEndpoint", s.ollamaEndpoint);
    read(j, "ollamaModel", s.ollamaModel);
    read(j, "anthropicModel", s.anthropicModel);
    read(j, "anthropicKey", s.anthropicKey);
    read(j, "keepRawTranscript", s.keepRawTranscript);
    read(j, "correctionPrompt", s.correctionPrompt);
    read(j, "organizeEnabled", s.organizeEnabled);
    read(j, "organizeRoot", s.organizeRoot);
    read(j, "organizeCopyAudio", s.organizeCopyAudio);
    read(j, "organizeModel", s.organizeModel);
    return s;
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
