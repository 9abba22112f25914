// What the window and the command line ask the engine about the work the
// recognition servers take on.
#include "engine/transcriber.h"

#include "engine/areas.h"

QString Transcriber::runningLabel(const AudioFile &file) const {
    const QString label = m_scheduler->currentLabel(file.id);
    return label.isEmpty() ? file.fileName() : label;
}

bool Transcriber::localModelMissing() const { return m_settings.localWorkers() > 0 && !modelAvailable(); }
