#include "core/state_lock.h"

#include <QDir>
#include <QStorageInfo>
#include <QThread>

const QString StateLock::fileName = QStringLiteral("instance.lock");

StateLock::StateLock(const QString &supportDir)
    : m_supportDir(QDir::cleanPath(supportDir)), m_lock(m_supportDir + QLatin1Char('/') + fileName) {
    // Held for as long as the program runs: never stale by age, only when its
    // process is gone.
    m_lock.setStaleLockTime(0);
}

bool StateLock::tryLock() {
    QDir().mkpath(m_supportDir);
    return m_lock.tryLock(0);
}

std::optional<StateLock::Holder> StateLock::holder() const {
    // The holder writes its name just after creating the file: a process
    // started at the same moment may look in between.
    for (int attempt = 0; attempt < 25; ++attempt) {
        Holder holder;
        QString host;
        if (m_lock.getLockInfo(&holder.pid, &host, &holder.program)) return holder;
        QThread::msleep(20);
    }
    return std::nullopt;
}

QString StateLock::refusal() const {
    if (heldElsewhere()) return lockHeldMessage(m_supportDir, holder());
    const bool full = QStorageInfo(m_supportDir).bytesAvailable() == 0;
    return QStringLiteral("Impossible de verrouiller le dossier d'état « %1 » : %2. Rien n'a été modifié.")
        .arg(m_supportDir, full ? QStringLiteral("disque plein") : QStringLiteral("écriture refusée"));
}

QString holderDescription(const StateLock::Holder &holder) {
    // parlivo-cli hands its work to parlivo-engine: the user knows the first.
    const QString who = holder.program == QLatin1String("parlivo") ? QStringLiteral("la fenêtre de Parlivo")
                        : holder.isCommand()                         ? QStringLiteral("parlivo-cli")
                        : holder.program.isEmpty()                   ? QStringLiteral("un programme")
                                                                     : holder.program;
    return QStringLiteral("%1 (processus %2)").arg(who).arg(holder.pid);
}

QString lockHeldMessage(const QString &supportDir, const std::optional<StateLock::Holder> &holder) {
    const QString by = holder ? QStringLiteral(" par ") + holderDescription(*holder) : QString();
    return QStringLiteral("Le dossier d'état « %1 » est déjà utilisé%2. Attends la fin de son travail ou "
                          "ferme-le, puis réessaie.")
        .arg(supportDir, by);
}
