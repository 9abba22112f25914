// The one-action install of the local server: download the vendor's archive,
// unpack it into the user's own folder, start the server, pull the model.
#include "provisioning/ollama_installer.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QStandardPaths>

#include <qcoro/qcorotask.h>

#include "core/folders.h"
#include "core/next_emission.h"
#include "provisioning/install_error.h"

namespace {

inline constexpr double downloadStep = 0.05;
inline constexpr double unpackStep = 0.6;
inline constexpr double startStep = 0.68;
inline constexpr double pullStep = 0.72;

// The download's outcome, and a timer fired once it is known: the completion
// comes from the event loop, and the coroutine wakes on the timer.
struct DownloadWait {
    std::optional<QString> error;
    QTimer wake;
};

void startDownload(Downloader &downloader, const QUrl &url, const QString &destination,
                   const std::shared_ptr<DownloadWait> &wait) {
    wait->wake.setSingleShot(true);
    downloader.start(url, destination, [wait](std::optional<QString> error) {
        wait->error = std::move(error);
        wait->wake.start(0);
    });
}

// Nothing when the file arrived, else the reason.
QCoro::Task<std::optional<QString>> download(Downloader &downloader, QUrl url, QString destination) {
    auto wait = std::make_shared<DownloadWait>();
    startDownload(downloader, url, destination, wait);
    co_await nextEmission(&wait->wake, &QTimer::timeout);
    co_return wait->error;
}

QString tarProgram() {
    const QString found = QStandardPaths::findExecutable(QStringLiteral("tar"));
    return found.isEmpty() ? QStringLiteral("/bin/tar") : found;
}

} // namespace

OllamaInstaller::OllamaInstaller(const ParlivoSettings &settings, EventLog &log, OllamaRuntime &runtime,
                                 ProcessRunner &processes, QObject *parent)
    : QObject(parent), m_settings(settings), m_log(log), m_runtime(runtime), m_processes(processes) {}

void OllamaInstaller::setProgress(double progress, const QString &status) {
    m_progress = progress;
    m_status = status;
    emit changed();
}

void OllamaInstaller::install() {
    if (m_installing) return;
    m_installing = true; // announced with the first phase
    m_task = run();
}

QCoro::Task<> OllamaInstaller::waitForEnd() {
    while (m_installing) co_await nextEmission(this, &OllamaInstaller::finished);
}

QCoro::Task<> OllamaInstaller::unpack(QString archive, QString destination) {
    // tar runs as a child process: the main thread only waits for it.
    const QStringList args = ollama::unpackArguments(archive, destination);
    const ProcessResult result = co_await m_processes.launch(tarProgram(), args, std::nullopt, false);
    if (result.code != 0)
        throw InstallError::unzip(QStringLiteral("Décompression impossible (code %1).").arg(result.code));
}

std::function<void(const ollama::PullUpdate &)> OllamaInstaller::pullProgress() {
    return [self = QPointer<OllamaInstaller>(this)](const ollama::PullUpdate &update) {
        // Status-only lines say nothing of the size: the bar holds still.
        if (self && update.hasTotal)
            self->setProgress(pullStep + (1.0 - pullStep) * update.fraction, self->m_status);
    };
}

QCoro::Task<> OllamaInstaller::run() {
    QPointer<OllamaInstaller> self(this);
    m_installing = true;
    m_error.reset();
    std::optional<QString> failure;
    try {
        setProgress(downloadStep, QStringLiteral("Téléchargement du moteur (~190 Mo, ça peut prendre 1 à 2 min)…"));
        const QString destination = ollama::localInstallDir();
        QDir().mkpath(destination);
        const QUrl url = ollama::archiveUrl();
        const QString archive = folders::tempDir() + QLatin1Char('/') + ollama::archiveFileName(url);
        const std::optional<QString> downloadError = co_await download(m_downloader, url, archive);
        if (!self) co_return;
        if (downloadError) throw InstallError::download(*downloadError);

        setProgress(unpackStep, QStringLiteral("Installation…"));
        std::optional<InstallError> unpackError;
        try {
            co_await unpack(archive, destination);
        } catch (const InstallError &error) {
            unpackError = error;
        }
        if (!self) co_return;
        QFile::remove(archive); // unpacked or refused, the archive has served
        if (unpackError) throw *unpackError;

        setProgress(startStep, QStringLiteral("Démarrage d'Ollama…"));
        const bool running = co_await m_runtime.ensureRunning();
        if (!self) co_return;
        if (!running) {
            // A first start may need the user's approval: say how to finish by hand.
            setProgress(m_progress, QStringLiteral("Ollama installé. Ouvre-le une fois manuellement (alerte "
                                                         "de sécurité macOS), puis reviens."));
            end();
            co_return;
        }

        const QString model = m_settings.ollamaModel;
        setProgress(pullStep, QStringLiteral("Téléchargement du modèle de correction (%1)…").arg(model));
        co_await ollama::pullModel(m_settings.ollamaEndpoint, model, pullProgress());
        if (!self) co_return;
        setProgress(1.0, QStringLiteral("Prêt à corriger."));
        m_log.log(QStringLiteral("Ollama installé et modèle %1 prêt.").arg(model));
    } catch (const InstallError &error) {
        failure = error.errorDescription();
    }
    if (!self) co_return;
    if (failure) m_log.log(QStringLiteral("Installation Ollama échouée : ") + *failure);
    // The status stays on the phase that failed; the window also needs the reason.
    m_error = failure;
    end();
}

void OllamaInstaller::end() {
    m_runtime.refreshInstalled();
    m_installing = false;
    emit changed();
    emit finished();
}
