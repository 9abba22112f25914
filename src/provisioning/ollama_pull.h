#pragma once
// Downloading a model into the Ollama server: POST /api/pull read as a stream
// of JSON lines while it arrives, so progress shows during a download of
// several gigabytes.

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

#include <qcoro/qcorotask.h>

#include "provisioning/install_error.h"

namespace ollama {

inline constexpr int pullTimeoutMs = 3'600'000;

// What one line of the stream says.
struct PullUpdate {
    double fraction = 0;  // completed / total; without a total, 1 on "success" and 0 otherwise
    bool hasTotal = false; // the fraction comes from sizes, not from the status text
    QString status;
};

// One line of the stream: an error text, a progress update, or nothing for a
// line that is not a JSON object.
struct PullLine {
    std::optional<QString> error;
    std::optional<PullUpdate> update;
};
PullLine parsePullLine(const QByteArray &line);

// The tenth (0 to 10) of a fraction, as the log shows progress.
int progressTenth(double fraction);

// Pulls `model` from `endpoint`. Each progress line goes to `onUpdate`.
// Throws InstallError::pull for a reply that is not HTTP 200, for an `error`
// line (with its text), and for a stream cut before its end: a half-received
// model is not a model. Main thread only.
QCoro::Task<> pullModel(QString endpoint, QString model, std::function<void(const PullUpdate &)> onUpdate);

} // namespace ollama
