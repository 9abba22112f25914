#include "core/folders.h"

#include "core/atomic_file.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace folders {

std::optional<QString> overrideHome() {
    const QString value = qEnvironmentVariable("PARLIVO_HOME");
    if (value.isEmpty()) return std::nullopt;
    return QDir::cleanPath(value);
}

QString realHome() { return QDir::homePath(); }

QString userSupportBase() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

static QString created(const QString &path) {
    QDir().mkpath(path); // a failure shows later, when a file cannot be written
    return path;
}

QString supportDir() {
    if (auto home = overrideHome())
        return created(*home + QStringLiteral("/Library/Application Support/Parlivo"));
    return created(userSupportBase() + QStringLiteral("/Parlivo"));
}

QString formerSupportDir() { return userSupportBase() + QStringLiteral("/Talvo"); }

QString tempDir() { return created(QDir::tempPath() + QStringLiteral("/Parlivo")); }

QString hestiaDir() { return overrideHome().value_or(realHome()) + QStringLiteral("/.hestia"); }

static void copyTree(const QString &from, const QString &to) {
    QDir().mkpath(to);
    const QDir source(from);
    for (const QFileInfo &info :
         source.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = to + QLatin1Char('/') + info.fileName();
        if (info.isDir() && !info.isSymLink())
            copyTree(info.filePath(), target);
        else
            copyFileAtomically(info.filePath(), target); // a failed copy is left behind, the old folder stays
    }
}

void migrateFormerSupportDir() {
    const QString current = userSupportBase() + QStringLiteral("/Parlivo");
    const QString former = formerSupportDir();
    if (QFileInfo::exists(current) || !QFileInfo(former).isDir()) return;
    copyTree(former, current);
}

std::unique_ptr<QSettings> preferences() {
    if (auto home = overrideHome())
        return std::make_unique<QSettings>(*home + QStringLiteral("/Library/Preferences/Parlivo.ini"),
                                           QSettings::IniFormat);
    return std::make_unique<QSettings>(QStringLiteral("Parlivo"), QStringLiteral("Parlivo"));
}

} // namespace folders
