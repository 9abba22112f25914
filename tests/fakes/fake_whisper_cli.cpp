// fake-whisper-cli: a stand-in for whisper.cpp's `whisper-cli`, used by the
// tests and the benchmarks. It accepts the arguments Parlivo passes:
//
//   -m MODEL -l LANG -oj -of PREFIX -pp -mc 0 -sns -t THREADS -p 1 WAV
//
// Like the real program, any other option gives "error: unknown argument: X"
// on standard error, no JSON and exit status 0. The model file must exist (its
// content is not read). The WAV must be RIFF/WAVE, 16 kHz, mono, 16-bit PCM;
// otherwise a message on standard error, no JSON and exit status 1. With -pp it
// prints "whisper_print_progress_callback: progress =  25%" lines (5 to 100 in
// steps of 5) on standard error; with -oj it writes PREFIX.json in the real
// layout (systeminfo, model, params, result, transcription). As in the real
// program, no -pp means no progress lines, no -oj no JSON, and without -of the
// JSON is written as WAV.json.
//
// Environment variables:
//   FAKE_WHISPER_SEGMENTS   JSON array of the segments to report. An item is a
//                           text (segments then follow each other, 2.5 s each)
//                           or an object {"text": "...", "from": MS, "to": MS}.
//                           A text gets a leading space when it has none, as
//                           the real program's do.
//                           Default: [" Bonjour.", " Ceci est un test."].
//   FAKE_WHISPER_DELAY      Seconds the recognition takes (default 0); the
//                           progress lines are spread over it.
//   FAKE_WHISPER_EXIT       Exit status (default 0). When not 0, the JSON is
//                           still written and "error: simulated failure" is the
//                           last line on standard error.
//   FAKE_WHISPER_HANG       "1": print the first progress line, then never end
//                           (until terminated), for time-limit tests.
//   FAKE_WHISPER_FAIL_AFTER N: the first N calls succeed, every later call
//                           fails (exit status 1, no JSON). The calls are
//                           counted in the file named by FAKE_WHISPER_COUNTER.
//   FAKE_WHISPER_COUNTER    Counter file for FAKE_WHISPER_FAIL_AFTER.
//   FAKE_WHISPER_ARGS_LOG   File to which each call appends its arguments, as
//                           one JSON array of strings per line.

#include <QFile>
#include <QLockFile>
#include <QString>
#include <QtEndian>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using Json = nlohmann::ordered_json;

namespace {

struct Options {
    std::string model = "models/ggml-base.en.bin";
    std::string language = "en";
    std::string prefix;
    std::string wav;
    bool json = false;
    bool progress = false;
};

struct FakeSegment {
    long long from = 0, to = 0; // milliseconds
    std::string text;
};

std::string env(const char *name) {
    const char *value = std::getenv(name);
    return value ? value : "";
}

[[noreturn]] void fail(int status, const std::string &message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    std::exit(status);
}

void appendArgumentLog(int argc, char **argv) {
    const std::string path = env("FAKE_WHISPER_ARGS_LOG");
    if (path.empty()) return;
    Json args = Json::array();
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    QFile log(QString::fromStdString(path));
    const std::string line = args.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
    if (log.open(QIODevice::Append)) log.write(QByteArray::fromStdString(line));
}

bool isInteger(const std::string &text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// The real program's answers: unknown options and missing values end it with status 0.
Options parseArguments(int argc, char **argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.empty() || arg[0] != '-') {
            if (!options.wav.empty()) fail(2, "error: fake-whisper-cli takes a single input file");
            options.wav = arg;
            continue;
        }
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) fail(0, "error: argument " + arg + " requires value");
            return argv[++i];
        };
        if (arg == "-m") options.model = value();
        else if (arg == "-l") options.language = value();
        else if (arg == "-of") options.prefix = value();
        else if (arg == "-oj") options.json = true;
        else if (arg == "-pp") options.progress = true;
        else if (arg == "-sns") continue;
        else if (arg == "-mc" || arg == "-t" || arg == "-p") {
            const std::string number = value();
            if (!isInteger(number)) fail(1, "error: invalid number for " + arg + ": " + number);
        } else
            fail(0, "error: unknown argument: " + arg);
    }
    if (options.wav.empty()) fail(2, "error: no input files specified");
    if (options.prefix.empty()) options.prefix = options.wav;
    return options;
}

// Checks the header chunks; returns the length of the audio in seconds.
double checkWav(const std::string &path) {
    const std::string what = "error: failed to read WAV file '" + path + "': ";
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) fail(1, what + "cannot open it");
    const QByteArray riff = file.read(12);
    if (riff.size() < 12 || !riff.startsWith("RIFF") || riff.mid(8, 4) != "WAVE") fail(1, what + "not RIFF/WAVE");

    std::optional<QByteArray> format;
    while (true) {
        const QByteArray header = file.read(8);
        if (header.size() < 8) fail(1, what + "no data chunk");
        const qint64 size = qFromLittleEndian<quint32>(header.constData() + 4);
        if (header.startsWith("data")) {
            if (!format) fail(1, what + "data before the fmt chunk");
            const qint64 bytes = std::min(size, file.size() - file.pos());
            return double(bytes) / (16000.0 * 2);
        }
        if (header.startsWith("fmt ")) {
            format = file.read(size);
            if (format->size() < 16) fail(1, what + "short fmt chunk");
            const char *f = format->constData();
            const auto tag = qFromLittleEndian<quint16>(f), channels = qFromLittleEndian<quint16>(f + 2),
                       bits = qFromLittleEndian<quint16>(f + 14);
            const auto rate = qFromLittleEndian<quint32>(f + 4);
            if (tag != 1 || channels != 1 || rate != 16000 || bits != 16)
                fail(1, what + "must be 16 kHz mono 16-bit PCM (format " + std::to_string(tag) + ", " +
                            std::to_string(rate) + " Hz, " + std::to_string(channels) + " channels, " +
                            std::to_string(bits) + " bits)");
            file.seek(file.pos() + (size & 1));
        } else if (!file.seek(file.pos() + size + (size & 1)))
            fail(1, what + "truncated chunk");
    }
}

std::vector<FakeSegment> requestedSegments() {
    const std::string text = env("FAKE_WHISPER_SEGMENTS");
    const Json items = text.empty() ? Json::array({" Bonjour.", " Ceci est un test."}) : Json::parse(text, nullptr, false);
    if (!items.is_array()) fail(2, "fake-whisper-cli: FAKE_WHISPER_SEGMENTS is not a JSON array");
    std::vector<FakeSegment> segments;
    long long next = 0;
    for (const auto &item : items) {
        FakeSegment segment{next, next + 2500, ""};
        if (item.is_string()) {
            segment.text = item.get<std::string>();
        } else if (item.is_object()) {
            segment.text = item.value("text", "");
            segment.from = item.value("from", segment.from);
            segment.to = item.value("to", segment.to);
        } else
            fail(2, "fake-whisper-cli: a segment is a text or an object");
        if (segment.text.empty() || segment.text[0] != ' ') segment.text.insert(0, " ");
        next = segment.to;
        segments.push_back(segment);
    }
    return segments;
}

// "00:00:02,500", the recogniser's own timestamp text.
std::string clockText(long long ms) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld,%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                  ms % 1000);
    return buffer;
}

std::string resultDocument(const Options &options, const std::vector<FakeSegment> &segments) {
    const std::string language = options.language == "auto" ? "fr" : options.language;
    Json transcription = Json::array();
    for (const auto &s : segments)
        transcription.push_back({{"timestamps", {{"from", clockText(s.from)}, {"to", clockText(s.to)}}},
                                 {"offsets", {{"from", s.from}, {"to", s.to}}},
                                 {"text", s.text}});
    Json document = {
        {"systeminfo", "AVX = 0 | FAKE = 1 |"},
        {"model", {{"type", "base"}, {"multilingual", true}}},
        {"params", {{"model", options.model}, {"language", options.language}, {"translate", false}}},
        {"result", {{"language", language}}},
        {"transcription", transcription},
    };
    return document.dump(1, '\t', false, Json::error_handler_t::replace);
}

// Counts this call; true once more than FAKE_WHISPER_FAIL_AFTER calls were made.
bool callBudgetSpent() {
    const std::string limit = env("FAKE_WHISPER_FAIL_AFTER");
    if (limit.empty()) return false;
    const QString counter = QString::fromStdString(env("FAKE_WHISPER_COUNTER"));
    if (counter.isEmpty()) fail(2, "fake-whisper-cli: FAKE_WHISPER_FAIL_AFTER needs FAKE_WHISPER_COUNTER");
    QLockFile lock(counter + QStringLiteral(".lock")); // parallel workers call at once
    lock.lock();
    QFile file(counter);
    int calls = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
    file.close();
    ++calls;
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(QByteArray::number(calls));
    return calls > std::atoi(limit.c_str());
}

void sleepSeconds(double seconds) {
    if (seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

void printProgress(int percent) {
    std::fprintf(stderr, "whisper_print_progress_callback: progress = %3d%%\n", percent);
    std::fflush(stderr);
}

void recognise(const Options &options) {
    const double delay = std::atof(env("FAKE_WHISPER_DELAY").c_str());
    const bool hang = env("FAKE_WHISPER_HANG") == "1";
    for (int percent = 5; percent <= 100; percent += 5) {
        sleepSeconds(delay / 20);
        if (options.progress) printProgress(percent);
        while (hang) std::this_thread::sleep_for(std::chrono::hours(1));
    }
}

void writeResult(const Options &options) {
    const std::string path = options.prefix + ".json";
    std::fprintf(stderr, "output_json: saving output to '%s'\n", path.c_str());
    QFile out(QString::fromStdString(path));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) fail(1, "error: failed to open '" + path + "' for writing");
    out.write(QByteArray::fromStdString(resultDocument(options, requestedSegments())));
}

} // namespace

int main(int argc, char **argv) {
    appendArgumentLog(argc, argv);
    const Options options = parseArguments(argc, argv);
    if (!QFile::exists(QString::fromStdString(options.model))) {
        std::fprintf(stderr, "whisper_init_from_file_with_params_no_state: failed to open '%s'\n", options.model.c_str());
        fail(3, "error: failed to initialize whisper context");
    }
    if (callBudgetSpent()) fail(1, "error: simulated failure (call budget spent)");
    const double seconds = checkWav(options.wav);
    std::fprintf(stderr, "main: processing '%s' (%lld samples, %.1f sec), lang = %s, task = transcribe ...\n",
                 options.wav.c_str(), (long long)(seconds * 16000), seconds, options.language.c_str());
    recognise(options);
    if (options.json) writeResult(options);
    const int status = std::atoi(env("FAKE_WHISPER_EXIT").c_str());
    if (status != 0) fail(status, "error: simulated failure");
    return 0;
}
