#pragma once
// A recognition done by another machine, as the pipeline sees it: the 16 kHz
// WAV goes out, segments or a fault come back.

#include <QList>
#include <QPointer>
#include <QString>

#include <optional>

#include <qcoro/qcorotask.h>

#include "core/cancellation.h"
#include "pipeline/whisper_output.h"

struct RemoteOutcome {
    enum class Fault {
        none,
        server,    // unreachable, too slow, broken or unreadable reply: the file goes to another slot
        audio,     // the server refused the audio: the file's own error
        cancelled, // the run was cancelled
    };
    Fault fault = Fault::none;
    QList<Segment> segments;
    QString message; // what went wrong, in French
};

class RemoteRecogniser {
public:
    virtual ~RemoteRecogniser() = default;
    // `timeLimit` in seconds, as for a local recognition.
    virtual QCoro::Task<RemoteOutcome> recognise(int slot, QString wav, double timeLimit,
                                                 QPointer<Cancellation> cancel) = 0;
    // The machine behind the slot, named in the transcript it recognised.
    virtual QString machine(int slot) const = 0;
};
