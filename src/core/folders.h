#pragma once
// Where Parlivo keeps its files. PARLIVO_HOME, when set and non-empty, stands
// for the user's home folder for the state files and the models.

#include <QSettings>
#include <QString>

#include <memory>
#include <optional>

namespace folders {
std::optional<QString> overrideHome();
QString supportDir();       // state files; created on each call
QString formerSupportDir(); // the folder of the application's former name (real user base)
QString userSupportBase();  // the real per-user application data folder
QString tempDir();          // converted audio during processing, private to the user; created on each call
QString hestiaDir();        // whisper models; not created here
QString realHome();

// One-time move from the folder of the application's former name: copied
// when the current folder does not exist yet (the old one stays). Run before
// anything creates the support folder, the state lock included.
void migrateFormerSupportDir();

// The per-user preference store (window sizes, counters that outlive a run).
// Under PARLIVO_HOME it is a file inside it, like everything else.
std::unique_ptr<QSettings> preferences();
} // namespace folders
