#pragma once
// The structuring pass for one transcript: the model rewrites the memo as a
// document by type, written beside it, and the memo's ledger entry records
// title, type, proposed category and keywords.

#include <QString>

#include <qcoro/qcorotask.h>

#include "organize/org_entry.h"
#include "organize/org_pass.h"
#include "organize/structured.h"

enum class StructureOutcome {
    structured, // document written and ledger entry updated
    skipped,    // unreadable, too short or cancelled: nothing recorded
    failed,     // the model call or the write failed (logged); retried next run
    backendDown // failed because the model service itself is unusable (logged)
};

// Never throws. On `backendDown` the caller makes sure the local server runs
// before going on. Only the ledger entry of `transcriptPath` is touched.
QCoro::Task<StructureOutcome> structureOne(QString transcriptPath, OrgLedger &ledger, OrgPassHooks hooks);

// The ledger entry after a successful structuring: category, theme and
// folder of an already sorted memo are kept.
OrgEntry withStructure(OrgEntry entry, const QString &transcriptPath, const std::optional<QString> &audioPath,
                       const QString &structurePath, const Structured &document);

// "<stem>.structure.md" beside the transcript.
QString structurePathFor(const QString &transcriptPath);
