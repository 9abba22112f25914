#pragma once
// A small tmpfs mounted on a folder, for what happens when a disk is full.
// Mounting needs root: tests skip with the reason when it cannot be done.

#include <QString>

namespace testing_support {

class SmallDisk {
public:
    // Mounts a tmpfs of `kilobytes` on `folder` (created when missing).
    explicit SmallDisk(const QString &folder, int kilobytes = 256);
    ~SmallDisk(); // unmounts, whatever is left on it
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    bool mounted() const { return m_mounted; }
    // Why the disk could not be mounted, for the skip message.
    const QString &whyNot() const { return m_whyNot; }
    const QString &folder() const { return m_folder; }

    // Takes every free byte but `spareBytes` with a filler file.
    void fill(qint64 spareBytes = 0);
    // Removes the filler: the space is free again.
    void freeUp();
    qint64 freeBytes() const;

private:
    QString fillerPath() const;

    QString m_folder;
    bool m_mounted = false;
    QString m_whyNot;
};

} // namespace testing_support
