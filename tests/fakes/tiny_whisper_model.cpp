#include "fakes/tiny_whisper_model.h"

#include <QFile>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace testing_support {
namespace {
// The values whisper.cpp expects of a multilingual model: its vocabulary
// size decides the special tokens, its audio context the 30 s window.
constexpr int32_t vocabSize = 51865;
constexpr int32_t textTokens = 50257; // ordinary tokens; the loader names the special ones itself
constexpr int32_t audioContext = 1500;
constexpr int32_t textContext = 448;
constexpr int32_t mels = 80;
constexpr int32_t fftBins = 201;
constexpr int32_t typeF32 = 0;
constexpr int32_t typeF16 = 1;

uint16_t toHalf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const uint32_t sign = (bits >> 16) & 0x8000u;
    const int32_t exponent = int32_t((bits >> 23) & 0xff) - 127 + 15;
    const uint32_t mantissa = bits & 0x7fffffu;
    if (exponent <= 0) return uint16_t(sign); // too small: zero
    if (exponent >= 31) return uint16_t(sign | 0x7bffu);
    return uint16_t(sign | uint32_t(exponent) << 10 | mantissa >> 13);
}

class ModelWriter {
public:
    ModelWriter(uint32_t seed) : m_random(seed) {}

    template <typename T> void put(T value) {
        m_bytes.append(reinterpret_cast<const char *>(&value), sizeof value);
    }
    void putBytes(const std::string &bytes) { m_bytes.append(bytes.data(), qsizetype(bytes.size())); }

    float uniform(float low, float high) { return std::uniform_real_distribution<float>(low, high)(m_random); }
    uint32_t below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(m_random); }

    // A tensor as the loader reads it: rank, name length, type, sizes
    // (innermost first), name, data. Layer norms start at one, the rest is noise.
    void tensor(const std::string &name, std::vector<int32_t> sizes, int32_t type) {
        put(int32_t(sizes.size()));
        put(int32_t(name.size()));
        put(type);
        int64_t count = 1;
        for (int32_t size : sizes) {
            put(size);
            count *= size;
        }
        putBytes(name);
        const bool norm = name.find("ln") != std::string::npos && name.ends_with(".weight");
        // Ordinary tokens weigh less than the end and time tokens, so a
        // window ends after a few words instead of running to its limit.
        const bool tokens = name == "decoder.token_embedding.weight";
        for (int64_t i = 0; i < count; ++i) {
            float value = norm ? 1.0f : uniform(-0.5f, 0.5f);
            if (tokens && i / sizes[0] < textTokens) value *= 0.3f;
            if (type == typeF16)
                put(toHalf(value));
            else
                put(value);
        }
    }

    QByteArray &bytes() { return m_bytes; }

private:
    QByteArray m_bytes;
    std::mt19937 m_random;
};

// Words of one to three bytes: letters, accented letters, spaces, and now
// and then a lone byte of a multi-byte character, as real vocabularies have.
std::string randomWord(ModelWriter &w) {
    static const char *const pieces[] = {"a", "e", "i", "o", "u", "s", "t", "n", "r", "l",
                                         " ", ".", ",", "\xc3\xa9", "\xc3\xa8", "\xc3\xa0", "\xc3", "\xa9", "\xe2\x80"};
    std::string word;
    const uint32_t length = 1 + w.below(3);
    for (uint32_t i = 0; i < length; ++i) word += pieces[w.below(std::size(pieces))];
    return word;
}

void writeBlock(ModelWriter &w, const std::string &prefix, int32_t state, bool cross) {
    const int32_t type = typeF16;
    auto norm = [&](const std::string &name) {
        w.tensor(prefix + name + ".weight", {state}, typeF32);
        w.tensor(prefix + name + ".bias", {state}, typeF32);
    };
    auto attention = [&](const std::string &name) {
        w.tensor(prefix + name + ".query.weight", {state, state}, type);
        w.tensor(prefix + name + ".query.bias", {state}, typeF32);
        w.tensor(prefix + name + ".key.weight", {state, state}, type);
        w.tensor(prefix + name + ".value.weight", {state, state}, type);
        w.tensor(prefix + name + ".value.bias", {state}, typeF32);
        w.tensor(prefix + name + ".out.weight", {state, state}, type);
        w.tensor(prefix + name + ".out.bias", {state}, typeF32);
    };
    norm("mlp_ln");
    w.tensor(prefix + "mlp.0.weight", {state, 4 * state}, type);
    w.tensor(prefix + "mlp.0.bias", {4 * state}, typeF32);
    w.tensor(prefix + "mlp.2.weight", {4 * state, state}, type);
    w.tensor(prefix + "mlp.2.bias", {state}, typeF32);
    norm("attn_ln");
    attention("attn");
    if (cross) {
        norm("cross_attn_ln");
        attention("cross_attn");
    }
}
} // namespace

bool writeTinyWhisperModel(const QString &path, uint32_t seed, TinyModelShape shape) {
    ModelWriter w(seed);
    const int32_t state = shape.state;
    w.put(uint32_t(0x67676d6c)); // "ggml"
    for (int32_t value : {vocabSize, audioContext, state, shape.heads, shape.audioLayers, textContext, state,
                          shape.heads, shape.textLayers, mels, typeF16})
        w.put(value);

    w.put(mels);
    w.put(fftBins);
    for (int i = 0; i < mels * fftBins; ++i) w.put(w.uniform(0.0f, 0.05f));

    w.put(textTokens);
    for (int i = 0; i < textTokens; ++i) {
        const std::string word = randomWord(w);
        w.put(uint32_t(word.size()));
        w.putBytes(word);
    }

    w.tensor("encoder.positional_embedding", {state, audioContext}, typeF32);
    w.tensor("encoder.conv1.weight", {3, mels, state}, typeF16);
    w.tensor("encoder.conv1.bias", {1, state}, typeF32);
    w.tensor("encoder.conv2.weight", {3, state, state}, typeF16);
    w.tensor("encoder.conv2.bias", {1, state}, typeF32);
    w.tensor("encoder.ln_post.weight", {state}, typeF32);
    w.tensor("encoder.ln_post.bias", {state}, typeF32);
    for (int i = 0; i < shape.audioLayers; ++i)
        writeBlock(w, "encoder.blocks." + std::to_string(i) + ".", state, false);

    w.tensor("decoder.positional_embedding", {state, textContext}, typeF32);
    w.tensor("decoder.token_embedding.weight", {state, vocabSize}, typeF16);
    w.tensor("decoder.ln.weight", {state}, typeF32);
    w.tensor("decoder.ln.bias", {state}, typeF32);
    for (int i = 0; i < shape.textLayers; ++i)
        writeBlock(w, "decoder.blocks." + std::to_string(i) + ".", state, true);

    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(w.bytes()) == w.bytes().size() &&
           file.flush();
}

} // namespace testing_support
