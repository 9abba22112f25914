#include "app/front/look_commands.h"

#include "core/text.h"

namespace cli {

bool onlyLooks(const QString &command, const QStringList &args) {
    if (command == QLatin1String("status") || command == QLatin1String("search")) return true;
    if (command == QLatin1String("settings"))
        return args.size() <= 1 && args.value(0) != QLatin1String("--reset-prompt");
    if (command == QLatin1String("models")) return args.isEmpty();
    return false;
}

bool answeredByFront(const QString &command, const QStringList &args) {
    // `status` with arguments is a usage error, which the engine program words.
    if (command == QLatin1String("status")) return args.isEmpty();
    return command == QLatin1String("settings") && onlyLooks(command, args);
}

StateParts partsRead(const QString &command, const QStringList &args) {
    // A large history stays unread when only the settings or the queue are shown.
    if (!onlyLooks(command, args)) return StateParts::all;
    if (command == QLatin1String("settings")) return StateParts::settings;
    if (command == QLatin1String("status")) return StateParts::settingsAndQueue;
    return StateParts::all;
}

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
