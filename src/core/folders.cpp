#include "core/folders.h"

#include "core/atomic_file.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {
// The folder, made if need be, when only this user may enter it and it is no
// link: converted recordings are the user's voice.
std::optional<QString> privateFolder(const QString &path) {
    const QByteArray encoded = QFile::encodeName(path);
    if (::mkdir(encoded.constData(), 0700) != 0 && errno != EEXIST) return std::nullopt;
    struct stat st {};
    if (::lstat(encoded.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return std::nullopt;
    // Ours but left open to others (an earlier version, a umask): closed again.
    if ((st.st_mode & 077) != 0 && ::chmod(encoded.constData(), 0700) != 0) return std::nullopt;
    return path;
}
} // namespace

QString tempDir() {
    // The system's temporary folder is shared by every user of the machine:
    // each gets a folder of their own that nobody else may enter, so that no
    // one reads another's recordings, and a run's clean-up of what a crash
    // left only ever touches its own user's files.
    // Inside it, one folder per state folder: only the program holding that
    // state folder's lock runs batches there, so its clean-up never reaches
    // the files of a batch run for another state folder.
    const QString state = supportDir();
    const QString name = QString::fromLatin1(
        QCryptographicHash::hash(QFile::encodeName(state), QCryptographicHash::Sha256).toHex().left(16));
    const QString base = QDir::tempPath();
    if (auto user = privateFolder(base + QStringLiteral("/Parlivo-%1").arg(::geteuid())))
        if (auto folder = privateFolder(*user + QLatin1Char('/') + name)) return *folder;
    // That name is taken by someone else, or by a link: the state folder
    // (in the user's home) holds the scratch files instead.
    return privateFolder(state + QStringLiteral("/Scratch")).value_or(state);
}

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
