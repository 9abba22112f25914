// The memo library's forwards for the window's reader.
#include "engine/transcriber.h"

#include "engine/areas.h"

QCoro::Task<std::optional<LibraryMemo>> Transcriber::libraryMemo(QString transcriptPath) {
    return m_library->memo(std::move(transcriptPath));
}
