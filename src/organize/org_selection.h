#pragma once
// Which transcripts take part in organization, and which of them still need
// each pass. The ledger's fields carry a memo from one pass to the next, so a
// repeated run only redoes what is missing.

#include <QString>
#include <QStringList>

#include <optional>

#include "core/enums.h"
#include "core/settings.h"
#include "organize/org_entry.h"

// The Markdown transcripts under `base` (directly inside it for a dedicated
// output folder, recursively beside the sources), never the structured
// documents nor anything inside the archive, in natural order of their path.
QStringList organizeTranscriptFiles(const std::optional<QString> &base, DestinationMode mode,
                                    const std::optional<QString> &archiveRoot);

// Has a structured document that still exists.
bool isStructured(const OrgLedger &ledger, const QString &transcriptPath);

QStringList filesToStructure(const QStringList &files, const OrgLedger &ledger);
QStringList filesToAssign(const QStringList &files, const OrgLedger &ledger); // structured, no theme yet
QStringList filesToPlace(const QStringList &files, const OrgLedger &ledger);  // structured (re-placed each run)

// Transcripts whose memo has no folder in the archive, or lost it.
int pendingOrganizationCount(const QStringList &files, const OrgLedger &ledger);

// Ledger entries with a folder.
int organizedCount(const OrgLedger &ledger);

// The organization model, else the correction model.
QString organizeModelName(const ParlivoSettings &settings);
