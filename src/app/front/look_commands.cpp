#include "app/front/look_commands.h"

#include "core/text.h"

namespace cli {

void printQueue(const QList<AudioFile> &files, QTextStream &out) {
    for (const AudioFile &file : files)
        out << rawValue(file.status) << '\t' << file.durationDisplay() << '\t' << singleLine(file.path()) << '\t'
            << singleLine(file.errorMessage.value_or(QString())) << '\n';
    out.flush();
}

bool checkSettingKey(const QStringList &args, QTextStream &err) {
    const QString key = args.value(0);
    if (settingsKeys().contains(key) && args.size() <= 2) return true;
    err << "Réglage inconnu : " << key << ". Réglages : " << settingsKeys().join(QLatin1String(", ")) << Qt::endl;
    return false;
}

void printSettingValue(const Json &value, QTextStream &out) {
    if (value.is_string())
        out << QString::fromStdString(value.get<std::string>()) << '\n';
    else
        out << QString::fromStdString(value.dump()) << '\n';
}

int printSettings(const ParlivoSettings &settings, const QStringList &args, QTextStream &out, QTextStream &err) {
    const Json all = toJson(settings);
    if (args.isEmpty()) {
        out << QString::fromStdString(all.dump(2)) << '\n';
        return success;
    }
    if (!checkSettingKey(args, err)) return badUsage;
    auto it = all.find(args.first().toStdString());
    if (it != all.end()) printSettingValue(*it, out); // an absent optional prints nothing
    return success;
}

} // namespace cli
