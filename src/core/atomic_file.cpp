#include "core/atomic_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <cerrno>
#include <unistd.h>

namespace {
QString systemReason(int error) {
    switch (error) {
    case 0: return QStringLiteral("cause inconnue");
    case ENOENT: return QStringLiteral("dossier introuvable");
    case EACCES:
    case EPERM: return QStringLiteral("accès refusé");
    case EROFS: return QStringLiteral("disque en lecture seule");
    case EIO: return QStringLiteral("erreur d'entrée-sortie du disque");
    case ENAMETOOLONG: return QStringLiteral("nom trop long");
    case EISDIR: return QStringLiteral("un dossier porte ce nom");
    default: return QStringLiteral("erreur du système (code %1)").arg(error);
    }
}

WriteError errorFor(const QString &path, int error) {
    // Qt refuses a folder in the file's place without setting errno.
    if (error == 0 && QFileInfo(path).isDir()) error = EISDIR;
    if (error == ENOSPC) return {QStringLiteral("Disque plein : « %1 » n'a pas pu être écrit.").arg(path), true};
    if (error == EDQUOT)
        return {QStringLiteral("Quota disque dépassé : « %1 » n'a pas pu être écrit.").arg(path), true};
    return {QStringLiteral("« %1 » : %2").arg(path, systemReason(error)), false};
}
} // namespace

AtomicFile::AtomicFile(const QString &path) : m_path(path), m_file(path) {}

std::optional<WriteError> AtomicFile::failed(int error) {
    if (!m_error) m_error = errorFor(m_path, error);
    // A cancelled commit removes the temporary file and leaves the target alone.
    m_file.cancelWriting();
    if (m_file.isOpen()) m_file.commit();
    return m_error;
}

std::optional<WriteError> AtomicFile::open(std::optional<QFileDevice::Permissions> permissions) {
    // Unbuffered: each write reaches the system at once, so a full disk is
    // seen where it happens rather than in a flush nobody checks.
    errno = 0;
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return failed(errno);
    if (permissions) m_file.setPermissions(*permissions);
    return std::nullopt;
}

std::optional<WriteError> AtomicFile::write(QByteArrayView data) {
    if (m_error) return m_error;
    while (!data.isEmpty()) {
        errno = 0;
        const qint64 written = m_file.write(data.data(), data.size());
        // Qt reports a full disk as a resource error; errno says the rest.
        if (written <= 0) return failed(m_file.error() == QFileDevice::ResourceError ? ENOSPC : errno);
        data = data.sliced(written); // a short write: the rest again, to learn why
    }
    return std::nullopt;
}

std::optional<WriteError> AtomicFile::commit() {
    if (m_error) return m_error;
    errno = 0;
    if (!m_file.flush()) return failed(m_file.error() == QFileDevice::ResourceError ? ENOSPC : errno);
    // Some file systems only find out that the data does not fit when syncing.
    if (::fsync(m_file.handle()) != 0) return failed(errno);
    errno = 0;
    if (!m_file.commit()) { // the rename: the temporary file is already gone
        m_error = errorFor(m_path, errno);
        return m_error;
    }
    return std::nullopt;
}

std::optional<WriteError> makeFolderFor(const QString &filePath) {
    const QString folder = QFileInfo(filePath).absolutePath();
    errno = 0;
    if (QDir().mkpath(folder)) return std::nullopt;
    WriteError error = errorFor(folder, errno);
    if (!error.diskFull) error.reason = QStringLiteral("création du dossier ") + error.reason;
    return error;
}

std::optional<WriteError> writeFileAtomically(const QString &path, const QByteArray &data, FileAccess access) {
    AtomicFile file(path);
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (auto error = file.open(access == FileAccess::ownerOnly ? std::optional(ownerOnly) : std::nullopt))
        return error;
    if (auto error = file.write(data)) return error;
    return file.commit();
}

std::optional<WriteError> copyFileAtomically(const QString &source, const QString &destination) {
    const WriteError unreadable{QStringLiteral("« %1 » : lecture impossible").arg(source)};
    QFile input(source);
    if (!input.open(QIODevice::ReadOnly)) return unreadable;
    AtomicFile output(destination);
    if (auto error = output.open(input.permissions())) return error;
    // A recording may weigh hundreds of megabytes: a piece at a time.
    constexpr qint64 piece = 1 << 20;
    while (!input.atEnd()) {
        const QByteArray data = input.read(piece);
        if (data.isEmpty() && input.error() != QFileDevice::NoError) return unreadable; // the temporary goes with `output`
        if (auto error = output.write(data)) return error;
    }
    return output.commit();
}

std::optional<QByteArray> readWholeFile(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return file.readAll();
}

std::optional<QString> readUtf8File(const QString &path) {
    auto bytes = readWholeFile(path);
    if (!bytes) return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(*bytes);
    if (decoder.hasError()) return std::nullopt;
    return text;
}
