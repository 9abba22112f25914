#pragma once
// Where the local Ollama server lives on this machine, how it is started, and
// where the one-action install puts it. No network here.

#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <optional>

namespace ollama {

// Named in the message shown when the server is nowhere to be found.
inline const QString vendorAddress = QStringLiteral("https://ollama.com");

// How long the engine waits for a server it started, and how often the
// monitor looks. The tests shorten them.
struct Timings {
    int startProbes = 40;
    std::chrono::milliseconds probeInterval{1000};
    std::chrono::milliseconds monitorInterval{5000};
};

// The user's home as Parlivo sees it: PARLIVO_HOME when set.
QString userHome();

// The application bundles looked for, in order (macOS).
QStringList bundleLocations();

// The server program inside the system bundle (macOS).
inline const QString bundledServer = QStringLiteral("/Applications/Ollama.app/Contents/Resources/ollama");

// Where the one-action install unpacks the server's archive (its bin/ollama
// lands in localServer()).
QString localInstallDir();
QString localServer();

// How the server can be started.
struct Launch {
    enum class Kind { openBundle, runServer, missing };
    Kind kind = Kind::missing;
    QString path;
};

// The first of: a bundle to open; the bundled server program; the server
// program of the one-action install; `toolPath` (found like the other
// programs, when the engine was created).
Launch locate(const std::optional<QString> &toolPath);

// Starts `program serve` on its own: a session and process group of its own
// (a Ctrl-C in the terminal or the end of Parlivo leaves it running), output
// to the null device. A failure to start is ignored.
void startServer(const QString &program);

// The server archive: PARLIVO_OLLAMA_DOWNLOAD_URL when set, else the
// vendor's archive for this machine.
QUrl archiveUrl();
// The archive's name in the scratch folder.
QString archiveFileName(const QUrl &url);
// tar's arguments to unpack `archive` into `destination` (compression read from the content).
QStringList unpackArguments(const QString &archive, const QString &destination);

} // namespace ollama
