#include "support/small_disk.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace testing_support {

SmallDisk::SmallDisk(const QString &folder, int kilobytes) : m_folder(QDir::cleanPath(folder)) {
    QDir().mkpath(m_folder);
    if (::geteuid() != 0) {
        m_whyNot = QStringLiteral("mounting a small tmpfs needs root");
        return;
    }
    const QByteArray options = QStringLiteral("size=%1k,mode=0777").arg(kilobytes).toUtf8();
    if (::mount("tmpfs", QFile::encodeName(m_folder).constData(), "tmpfs", 0, options.constData()) != 0) {
        m_whyNot = QStringLiteral("cannot mount a tmpfs: ") + QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    m_mounted = true;
}

SmallDisk::~SmallDisk() {
    if (m_mounted) ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
}

QString SmallDisk::fillerPath() const { return m_folder + QStringLiteral("/.filler"); }

qint64 SmallDisk::freeBytes() const {
    struct statvfs info {};
    if (::statvfs(QFile::encodeName(m_folder).constData(), &info) != 0) return 0;
    return qint64(info.f_bavail) * qint64(info.f_frsize);
}

void SmallDisk::fill(qint64 spareBytes) {
    const int fd = ::open(QFile::encodeName(fillerPath()).constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd < 0) return;
    // Page by page, so that what is left is exactly the spare room asked for.
    const QByteArray page(4096, 'x');
    while (freeBytes() > spareBytes)
        if (::write(fd, page.constData(), size_t(std::min<qint64>(page.size(), freeBytes() - spareBytes))) <= 0)
            break;
    ::close(fd);
}

void SmallDisk::freeUp() { QFile::remove(fillerPath()); }

} // namespace testing_support
