#pragma once

// How the last pass ended, for the command line's exit status.
enum class CorrectionPassEnd {
    none,
    finished,
    cancelled,
    backendUnavailable,
    noOutputRoot,
    nothingToCorrect,
    noService, // the service is "none": no pass was started
};
