#pragma once
// The "Tester" of a recognition server in the settings: a short silent WAV
// sent to its inference path, and what came back said in French.

#include <QByteArray>
#include <QString>

#include <optional>

#include <qcoro/qcorotask.h>

#include "core/settings.h"
#include "pipeline/remote_recogniser.h"

// How long a test waits for the reply, in seconds.
inline constexpr double serverCheckSeconds = 30;

// A 16 kHz mono 16-bit WAV of `milliseconds` of silence.
QByteArray silentWav(int milliseconds);

// Why an address cannot be a server's, in French; nothing when it can.
std::optional<QString> addressProblem(const QString &address);

// What the settings show beside the server once the test is over.
QString serverCheckText(const RemoteOutcome &outcome);

// Tests the server: its address, then a real request with half a second of silence.
QCoro::Task<QString> checkServer(RecognitionServer server, QString language);
