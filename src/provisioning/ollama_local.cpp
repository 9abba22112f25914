#include "provisioning/ollama_local.h"

#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>

#include "core/folders.h"

namespace ollama {

namespace {
bool isExecutableFile(const QString &path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}
} // namespace

QString userHome() { return folders::overrideHome().value_or(folders::realHome()); }

QStringList bundleLocations() {
    return {QStringLiteral("/Applications/Ollama.app"), userHome() + QStringLiteral("/Applications/Ollama.app")};
}

QString localInstallDir() { return userHome() + QStringLiteral("/.local"); }

QString localServer() { return localInstallDir() + QStringLiteral("/bin/ollama"); }

Launch locate(const std::optional<QString> &toolPath) {
    for (const QString &bundle : bundleLocations())
        if (QFileInfo(bundle).isDir()) return {Launch::Kind::openBundle, bundle};
    if (isExecutableFile(bundledServer)) return {Launch::Kind::runServer, bundledServer};
    // The copy the one-action install made is the one the user asked for.
    if (isExecutableFile(localServer())) return {Launch::Kind::runServer, localServer()};
    if (toolPath && isExecutableFile(*toolPath)) return {Launch::Kind::runServer, *toolPath};
    return {};
}

void startServer(const QString &program) {
    // A detached child gets a session of its own (so a process group of its
    // own) from Qt, and outlives us.
    QProcess server;
    server.setProgram(program);
    server.setArguments({QStringLiteral("serve")});
    server.setStandardInputFile(QProcess::nullDevice());
    server.setStandardOutputFile(QProcess::nullDevice());
    server.setStandardErrorFile(QProcess::nullDevice());
    server.startDetached();
}

QUrl archiveUrl() {
    const QString override = qEnvironmentVariable("PARLIVO_OLLAMA_DOWNLOAD_URL");
    if (!override.isEmpty()) return QUrl(override);
    const QString arch = QSysInfo::currentCpuArchitecture() == QLatin1String("arm64") ? QStringLiteral("arm64")
                                                                                     : QStringLiteral("amd64");
    return QUrl(vendorAddress + QStringLiteral("/download/ollama-linux-") + arch + QStringLiteral(".tgz"));
}

QString archiveFileName(const QUrl &url) {
    const QString name = url.fileName();
    return name.isEmpty() ? QStringLiteral("ollama-linux.tgz") : name;
}

QStringList unpackArguments(const QString &archive, const QString &destination) {
    // GNU tar recognises gzip, xz or zstd from the content: the vendor has
    // changed the compression of this archive before.
    return {QStringLiteral("-x"), QStringLiteral("-f"), archive, QStringLiteral("-C"), destination};
}

} // namespace ollama
