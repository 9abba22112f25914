// The language-model stage of a batch: whether this run corrects, the
// correction of each file, and what follows a finished batch.
#include "engine/transcriber.h"

QCoro::Task<> Transcriber::correctionPreflight() {
    // Correction joins the batch once the language-model stage is built.
    m_correctionActiveThisRun = false;
    co_return;
}

QCoro::Task<std::optional<QString>> Transcriber::correctForRun(QUuid, QString) {
    // With correction inactive for the run, the raw text is written.
    co_return std::nullopt;
}

void Transcriber::chainAfterRun() {}
