#pragma once
// Which state files the last saves could not write. A disk that stays full
// is reported once, not at every save, and so is its recovery; every save
// tries again, so nothing more is needed than the next change.

#include <QList>
#include <QSet>
#include <QString>

#include <optional>

#include "core/atomic_file.h"

class UnsavedState {
public:
    struct Outcome {
        QString file; // the state file's name, such as "queue.json"
        std::optional<WriteError> error;
    };

    // Records one save's outcomes; returns the line to log, if any.
    std::optional<QString> record(const QList<Outcome> &outcomes);
    // Some state file holds older data than the engine.
    bool any() const { return !m_failing.isEmpty(); }

private:
    QSet<QString> m_failing;
    bool m_diskFullReported = false; // until every file is saved again
};
