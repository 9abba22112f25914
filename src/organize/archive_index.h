#pragma once
// INDEX.md at the archive root: every placed memo, grouped by category and
// theme, linked to its structured document.

#include <QString>

#include "core/atomic_file.h"
#include "organize/org_entry.h"

QString indexContent(const QString &root, const OrgLedger &ledger);

// Rewrites root/INDEX.md atomically, creating the root if needed.
// Returns nothing on success, else the reason (callers may ignore it).
std::optional<WriteError> writeIndex(const QString &root, const OrgLedger &ledger);
