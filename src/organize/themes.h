#pragma once
// Sorting structured memos: a final category and one theme each, asked in
// batches that show the model the themes already in use, then a merge of the
// themes of a category when too many are pending.

#include <QStringList>

#include <qcoro/qcorotask.h>

#include "organize/org_entry.h"
#include "organize/org_pass.h"
#include "organize/theme_text.h"

// Every memo of `transcriptPaths` ends with a category and a theme, from the
// model or, failing that, from its own keywords. Never throws; stops between
// batches when cancelled. Calls `memoDone` once per memo.
QCoro::Task<> assignThemes(QStringList transcriptPaths, OrgLedger &ledger, OrgPassHooks hooks);

// Merges the themes of memos not yet placed, per category, when more than
// twelve are pending. Never throws; an unusable reply changes nothing.
QCoro::Task<> consolidateThemes(OrgLedger &ledger, OrgPassHooks hooks);

// Sorted themes in use by the ledger's entries.
QStringList knownThemes(const OrgLedger &ledger);

// The entry with its final category and theme: the model's when it gave a
// theme (`assigned` may be null), else the fallback from its own proposal.
OrgEntry sortedEntry(OrgEntry entry, const Assignment *assigned);
