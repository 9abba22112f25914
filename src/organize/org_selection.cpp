#include "organize/org_selection.h"

#include "core/source_files.h"
#include "organize/placement.h"

#include <QDir>
#include <QFileInfo>

namespace {
bool isTranscript(const QFileInfo &info) {
    return info.isFile() && info.suffix().toLower() == QLatin1String("md") &&
           !info.fileName().endsWith(QLatin1String(".structure.md"));
}

const OrgEntry *entryOf(const OrgLedger &ledger, const QString &path) {
    auto it = ledger.find(path);
    return it == ledger.end() ? nullptr : &it->second;
}
} // namespace

QStringList organizeTranscriptFiles(const std::optional<QString> &base, DestinationMode mode,
                                    const std::optional<QString> &archiveRoot) {
    if (!base || !QFileInfo(*base).isDir()) return {};
    const QString root = QDir::cleanPath(*base);
    QStringList files;
    if (mode == DestinationMode::custom) {
        for (const QFileInfo &info : QDir(root).entryInfoList(QDir::Files))
            if (isTranscript(info)) files.append(info.filePath());
    } else {
        for (const QString &path : markdownFilesUnder(root, archiveRoot))
            if (isTranscript(QFileInfo(path))) files.append(path);
    }
    naturalSort(files);
    return files;
}

bool isStructured(const OrgLedger &ledger, const QString &transcriptPath) {
    const OrgEntry *entry = entryOf(ledger, transcriptPath);
    return entry && entry->structurePath && QFileInfo::exists(*entry->structurePath);
}

QStringList filesToStructure(const QStringList &files, const OrgLedger &ledger) {
    QStringList out;
    for (const QString &file : files)
        if (!isStructured(ledger, file)) out.append(file);
    return out;
}

QStringList filesToAssign(const QStringList &files, const OrgLedger &ledger) {
    QStringList out;
    for (const QString &file : files) {
        const OrgEntry *entry = entryOf(ledger, file);
        if (entry && entry->structurePath && !entry->theme) out.append(file);
    }
    return out;
}

QStringList filesToPlace(const QStringList &files, const OrgLedger &ledger) {
    QStringList out;
    for (const QString &file : files) {
        const OrgEntry *entry = entryOf(ledger, file);
        if (entry && entry->structurePath) out.append(file);
    }
    return out;
}

int pendingOrganizationCount(const QStringList &files, const OrgLedger &ledger) {
    int pending = 0;
    for (const QString &file : files) {
        const OrgEntry *entry = entryOf(ledger, file);
        if (!entry || !entry->folder || !QFileInfo::exists(*entry->folder)) ++pending;
    }
    return pending;
}

int organizedCount(const OrgLedger &ledger) {
    int count = 0;
    for (const auto &[path, entry] : ledger)
        if (entry.folder) ++count;
    return count;
}

QString organizeModelName(const ParlivoSettings &settings) {
    return settings.organizeModel.isEmpty() ? settings.ollamaModel : settings.organizeModel;
}
