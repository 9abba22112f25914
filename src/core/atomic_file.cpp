#include "core/atomic_file.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

namespace {
QString frenchReason(QFileDevice::FileError error, const QString &fallback) {
    switch (error) {
    case QFileDevice::OpenError: return QStringLiteral("ouverture du fichier impossible (%1)").arg(fallback);
    case QFileDevice::WriteError: return QStringLiteral("écriture impossible (%1)").arg(fallback);
    case QFileDevice::PermissionsError: return QStringLiteral("permissions insuffisantes (%1)").arg(fallback);
    case QFileDevice::RenameError: return QStringLiteral("remplacement du fichier impossible (%1)").arg(fallback);
    default: return fallback;
    }
}
} // namespace

std::optional<QString> writeFileAtomically(const QString &path, const QByteArray &data, FileAccess access) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return frenchReason(file.error(), file.errorString());
    if (access == FileAccess::ownerOnly)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(data) != data.size()) {
        auto reason = frenchReason(QFileDevice::WriteError, file.errorString());
        file.cancelWriting();
        return reason;
    }
    if (!file.commit()) return frenchReason(file.error(), file.errorString());
    return std::nullopt;
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
