#include "pipeline/tools.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
bool isExecutableFile(const QString &path) {
    QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

QStringList resourceFolders() {
    // No application object (a library caller) means no package folder.
    if (!QCoreApplication::instance()) return {};
    const QString exeDir = QCoreApplication::applicationDirPath();
    return {exeDir + QStringLiteral("/../Resources/bin"), exeDir + QStringLiteral("/../libexec/parlivo")};
}

// The PATH search `which` does, without starting a program for it.
std::optional<QString> onPath(const QString &name) {
    const QString found = QStandardPaths::findExecutable(name);
    if (found.isEmpty()) return std::nullopt;
    return found;
}
} // namespace

std::optional<QString> Tools::find(const QString &name) {
    for (const QString &folder : resourceFolders()) {
        const QString candidate = QFileInfo(folder + QLatin1Char('/') + name).absoluteFilePath();
        if (isExecutableFile(candidate)) return candidate;
    }
    for (const char *folder : {"/opt/homebrew/bin/", "/usr/local/bin/", "/usr/bin/"}) {
        const QString candidate = QString::fromLatin1(folder) + name;
        if (isExecutableFile(candidate)) return candidate;
    }
    return onPath(name);
}

Tools Tools::resolve() {
    Tools tools;
    // The user's choice of recogniser wins over the bundled one; one that is
    // not a program leaves the recogniser missing rather than using another.
    if (qEnvironmentVariableIsSet("PARLIVO_WHISPER_CLI")) {
        const QString chosen = QFileInfo(qEnvironmentVariable("PARLIVO_WHISPER_CLI")).absoluteFilePath();
        if (isExecutableFile(chosen)) tools.whisper = chosen;
    } else {
        tools.whisper = find(QStringLiteral("whisper-cli"));
    }
    tools.ffmpeg = find(QStringLiteral("ffmpeg"));
    tools.ffprobe = find(QStringLiteral("ffprobe"));
    tools.ollama = find(QStringLiteral("ollama"));
    for (auto [field, path] : {std::pair{&tools.afconvert, "/usr/bin/afconvert"},
                               std::pair{&tools.afinfo, "/usr/bin/afinfo"}})
        if (isExecutableFile(QString::fromLatin1(path))) *field = QString::fromLatin1(path);
    return tools;
}
