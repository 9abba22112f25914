#pragma once
// A whisper.cpp model file with random weights: the real recogniser loads it
// and runs every stage (mel, encoder, decoder, timestamps) in a fraction of a
// second per window, so tests and benchmarks use the real program without
// downloading a real model. What it says is noise, and may be any bytes.

#include <QString>

#include <cstdint>

namespace testing_support {

struct TinyModelShape {
    int32_t audioLayers = 1;
    int32_t textLayers = 1;
    int32_t state = 16; // width of both encoder and decoder
    int32_t heads = 2;
};

// Writes the model to `path`; false when the file cannot be written. The same
// seed gives the same file.
bool writeTinyWhisperModel(const QString &path, uint32_t seed = 1, TinyModelShape shape = {});

} // namespace testing_support
