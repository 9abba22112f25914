#pragma once
// The one way Parlivo writes a file: into a temporary file beside the target,
// synced to the disk, then moved over the target. Readers see the old content
// or the new one, never half a file, whether the program is killed or the disk
// is full. (QSaveFile alone is not enough: on Qt 6.4 its commit() renames even
// after a failed flush, leaving an empty file in place of the old one.)

#include <QByteArray>
#include <QByteArrayView>
#include <QSaveFile>
#include <QString>

#include <optional>

enum class FileAccess { standard, ownerOnly };

// Why a file could not be written, in French. On a full disk the reason is a
// sentence of its own ("Disque plein : « path » n'a pas pu être écrit.");
// otherwise it is "« path » : cause", for the caller to say what was written.
struct WriteError {
    QString reason;
    // No room left on that disk (full, or over quota): writing anything else
    // there would fail the same way.
    bool diskFull = false;
};

// A file written in pieces (a download, a copy) and put in place only once all
// of it reached the disk. Until commit() succeeds the target keeps its previous
// content; on any failure the temporary file is removed at once.
class AtomicFile {
public:
    explicit AtomicFile(const QString &path);
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // `permissions`: those of the new file; by default the old file's, else the usual ones.
    std::optional<WriteError> open(std::optional<QFileDevice::Permissions> permissions = std::nullopt);
    std::optional<WriteError> write(QByteArrayView data);
    // Syncs the data to the disk, then replaces the target.
    std::optional<WriteError> commit();

private:
    std::optional<WriteError> failed(int error); // drops the temporary file

    QString m_path;
    QSaveFile m_file;
    std::optional<WriteError> m_error; // the first failure, reported again by later calls
};

// Creates the folder `filePath` goes in, with its parents.
std::optional<WriteError> makeFolderFor(const QString &filePath);

// Writes `data` to `path` through AtomicFile. Nothing on success.
std::optional<WriteError> writeFileAtomically(const QString &path, const QByteArray &data,
                                              FileAccess access = FileAccess::standard);

// Copies `source` over `destination` through AtomicFile, piece by piece, with
// the source's permissions.
std::optional<WriteError> copyFileAtomically(const QString &source, const QString &destination);

// Reads a whole file; nothing when it is missing or unreadable.
std::optional<QByteArray> readWholeFile(const QString &path);

// A whole file as UTF-8 text; nothing when it cannot be read or is not UTF-8.
std::optional<QString> readUtf8File(const QString &path);
