// Where the correction side hands over to the organization.
#include "engine/transcriber.h"

void Transcriber::organizeAfterCorrection(bool) {
    // The organization run joins here.
}
