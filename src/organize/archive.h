#pragma once
// Laying out the archive: one folder per structured memo holding its
// transcript, its document and its audio, placed by category and theme.

#include <QDateTime>
#include <QString>

#include <functional>

#include "organize/org_entry.h"
#include "organize/org_pass.h"

// When a recording was made, from its file (name, then file dates).
using RecordingDateFunction = std::function<QDateTime(const QString &path)>;

struct ArchiveOptions {
    QString root;
    bool copyAudio = true; // else a symbolic link to the source recording
    RecordingDateFunction recordingDate;
    LogFunction log;
};

// Places (or re-places) one memo and records its folder in the ledger. A memo
// whose theme changed has its folder moved, not copied. Returns false when the
// memo is not structured or a file operation failed (logged); the entry then
// keeps its previous folder and is retried on the next run.
bool materialize(const QString &transcriptPath, OrgLedger &ledger, const ArchiveOptions &options);
