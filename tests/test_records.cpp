// Records, enums, settings and their JSON coding: the on-disk format.
#include <gtest/gtest.h>

#include "core/json_coding.h"
#include "core/json_writer.h"
#include "core/settings.h"

namespace {

Json parse(const char *text) { return parseJson(QByteArray(text)); }

std::vector<std::string> keysOf(const Json &j) {
    std::vector<std::string> keys;
    for (auto it = j.begin(); it != j.end(); ++it) keys.push_back(it.key());
    return keys;
}

TEST(FormatClock, RoundsHalvesAwayAndSwitchesToHoursAt3600) {
    EXPECT_EQ(formatClock(65.4), "1:05");
    EXPECT_EQ(formatClock(59.5), "1:00");
    EXPECT_EQ(formatClock(3599.4), "59:59");
    EXPECT_EQ(formatClock(3599.5), "1:00:00"); // an hour once rounded, not "60:00"
    EXPECT_EQ(formatClock(3725), "1:02:05");
    EXPECT_EQ(formatClock(-0.0), "0:00");
    for (double bad : {-1.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()})
        EXPECT_EQ(formatClock(bad), "-");
}

TEST(Enums, UnknownRawValuesAreRefused) {
    EXPECT_EQ(fromRaw<OutputFormat>("both"), OutputFormat::both);
    EXPECT_FALSE(fromRaw<CorrectionBackend>("both")); // an output format, never a correction backend
    EXPECT_FALSE(fromRaw<FileStatus>("Pending"));
}

TEST(QueueJson, EntriesKeepTheirKeyOrderOmitWhatIsAbsentRoundTripAndOneBadEntryFailsTheWhole) {
    PersistedState state;
    state.sourceFolder = QUrl::fromLocalFile("/tmp");
    AudioFile file(QUrl::fromLocalFile("/tmp/Mémo vocal #1.m4a"));
    state.files.append(file);
    file.status = FileStatus::error;
    file.errorMessage = "Échec";
    file.durationSeconds = 12.5;
    file.outputPath = "/tmp/out.txt";
    state.files.append(file);

    const Json j = parseJson(encodeQueue(state));
    EXPECT_EQ(keysOf(j), (std::vector<std::string>{"sourceFolder", "files", "wasRunning"}));
    const Json &first = j["files"][0];
    EXPECT_EQ(keysOf(first), (std::vector<std::string>{"id", "url", "status", "progress"}));
    EXPECT_EQ(first["url"], "file:///tmp/M%C3%A9mo%20vocal%20%231.m4a");
    EXPECT_EQ(keysOf(j["files"][1]), (std::vector<std::string>{"id", "url", "status", "progress", "errorMessage",
                                                                "durationSeconds", "outputPath"}));
    EXPECT_EQ(persistedStateFromJson(j), state);

    // One unknown status or missing key fails the whole document.
    const char *good = R"({"sourceFolder":"file:///tmp/src","files":[
        {"id":"6B29FC40-CA47-1067-B31D-00DD010662DA","url":"file:///tmp/src/a.m4a","status":"done","progress":1},
        {"id":"7B29FC40-CA47-1067-B31D-00DD010662DA","url":"file:///tmp/src/b.m4a","status":"pending","progress":0,"errorMessage":null}],
        "wasRunning":true})";
    PersistedState read = persistedStateFromJson(parse(good));
    ASSERT_EQ(read.files.size(), 2);
    EXPECT_EQ(read.files[0].status, FileStatus::done);
    EXPECT_FALSE(read.files[1].errorMessage); // null reads as absent
    EXPECT_TRUE(read.wasRunning);
    EXPECT_EQ(persistedStateFromJson(parseJson(encodeQueue(read))), read);

    std::string bad = good;
    bad.replace(bad.find("\"pending\""), 9, "\"paused\"");
    EXPECT_THROW(persistedStateFromJson(Json::parse(bad)), DecodeError);
    EXPECT_THROW(persistedStateFromJson(parse(R"({"files":[]})")), std::exception);
    EXPECT_THROW(persistedStateFromJson(parse(R"({"files":[{"url":"file:///a","status":"done","progress":1}],"wasRunning":false})")),
                 std::exception);
    EXPECT_THROW(parseJson("{\"files\":"), DecodeError);
}

TEST(JsonWriter, WritesTheBytesOfACompactDocumentDump) {
    // Whatever the writer emits must read back and print identically: same
    // escapes, same number forms.
    JsonWriter out;
    out.beginObject();
    out.key("texte \"cité\"\\ \n");
    out.value("a\b\f\t\r\x01\x1f\x7f é 🎙️ \"\\/");
    out.key("nombres");
    out.beginArray();
    for (double d : {0.0, 1.0, 12.5, 0.1, 1e-7, 1e21, 1700000000.123456, -3.25, std::nan("")}) out.value(d);
    out.value(qint64(-9007199254740993));
    out.value(false);
    out.beginObject();
    out.endObject();
    out.endArray();
    out.key(QStringLiteral("/chemin/à/clé"));
    out.value(QStringLiteral("dernier"));
    out.endObject();
    const QByteArray text = out.take();
    EXPECT_EQ(dumpCompact(parseJson(text)), text);
    EXPECT_EQ(parseJson(text)["nombres"][8], nullptr);
}

TEST(KeyedJson, MembersAreHandedOverOneByOneWithTheirNestedValues) {
    std::vector<std::pair<std::string, Json>> seen;
    auto collect = [&](std::string &&key, Json &&value) { seen.emplace_back(key, value); };
    forEachMember(R"({"a":{"x":[1,{"y":null},[]],"z":"t"},"b":2.5,"c":[{"d":{}}]})", collect);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].first, "a");
    EXPECT_EQ(seen[0].second, Json::parse(R"({"x":[1,{"y":null},[]],"z":"t"})"));
    EXPECT_EQ(seen[1].second, 2.5);
    EXPECT_EQ(seen[2].second, Json::parse(R"([{"d":{}}])"));
    for (const char *bad : {"[]", "3", "", "{\"a\":", "{\"a\":1}x", "{\"a\":tru}"})
        EXPECT_THROW(forEachMember(bad, collect), DecodeError) << bad;
    // A path given twice keeps its last entry, as it always did.
    const Ledger twice = ledgerFromText(R"({"/a":{"size":1,"mtime":1,"status":"done","date":1},)"
                                        R"("/a":{"size":2,"mtime":1,"status":"done","date":1}})");
    EXPECT_EQ(twice.at("/a").size, 2);
}

TEST(LedgerJson, AttemptsAbsentStaysAbsentAndKeyOrderIsFixed) {
    LedgerEntry e{1234, 1700000000.25, "error", std::nullopt, 1700000100.5, "Échec", std::nullopt};
    Ledger ledger{{"/tmp/a.m4a", e}};
    const QByteArray text = encodeLedger(ledger);
    EXPECT_EQ(keysOf(parseJson(text)["/tmp/a.m4a"]),
              (std::vector<std::string>{"size", "mtime", "status", "date", "errorMessage"}));
    Ledger back = ledgerFromText(text);
    EXPECT_EQ(back, ledger);
    EXPECT_FALSE(back.at("/tmp/a.m4a").attempts);
    e.attempts = 3;
    EXPECT_EQ(keysOf(parseJson(encodeLedger({{"/a", e}}))["/a"]).back(), "attempts");
    EXPECT_THROW(ledgerFromText(R"({"/a":{"size":"12","mtime":1,"status":"done","date":1}})"), DecodeError);
    EXPECT_THROW(ledgerFromText("[]"), DecodeError);
}

TEST(SettingsJson, EveryKeyUnderItsStoredNameOlderFilesGetDefaultsAndWrongTypesRejectTheRecord) {
    EXPECT_EQ(settingsFromJson(parse("{}")), ParlivoSettings{});
    // A file from before organization existed: organization comes on.
    ParlivoSettings old = settingsFromJson(parse(R"({"language":"fr","outputFormat":"both"})"));
    EXPECT_TRUE(old.organizeEnabled);
    EXPECT_EQ(old.language, "fr");
    EXPECT_EQ(old.outputFormat, OutputFormat::both);
    EXPECT_THROW(settingsFromJson(parse(R"({"parallelism":0})")), DecodeError);
    EXPECT_THROW(settingsFromJson(parse(R"({"correctionBackend":"both"})")), DecodeError);
    EXPECT_THROW(settingsFromJson(parse(R"({"language":"fr","parallelism":"2"})")), DecodeError);
    EXPECT_THROW(settingsFromJson(parse(R"({"timestamps":1})")), DecodeError);
    EXPECT_THROW(settingsFromJson(parse("[]")), DecodeError);

    EXPECT_EQ(keysOf(toJson(ParlivoSettings{})),
              (std::vector<std::string>{"modelPath", "language", "outputFormat", "subtitleFormat",
                                        "destinationMode", "parallelism", "timestamps", "autoResume",
                                        "watchFolder", "correctionEnabled", "correctionBackend", "ollamaEndpoint", "ollamaModel",
                                        "anthropicModel", "anthropicKey", "keepRawTranscript", "correctionPrompt",
                                        "organizeEnabled", "organizeCopyAudio", "organizeModel", "recognitionServers"}));

    // A file with every value away from its default, in the order written:
    // read and written back, every key keeps its name and its value.
    const QByteArray everyKey = R"({"modelPath":"/m/ggml-base.bin","language":"fr","outputFormat":"both",)"
        R"("subtitleFormat":"srt","destinationMode":"custom","customDestination":"/out","parallelism":2,)"
        R"("timestamps":true,"autoResume":false,"watchFolder":true,"correctionEnabled":false,)"
        R"("correctionBackend":"anthropic","ollamaEndpoint":"http://10.0.0.2:11434","ollamaModel":"mistral",)"
        R"("anthropicModel":"claude-x","anthropicKey":"sk-1","keepRawTranscript":false,"correctionPrompt":"Corrige.",)"
        R"("organizeEnabled":false,"organizeRoot":"/arch","organizeCopyAudio":false,"organizeModel":"llama3",)"
        R"("recognitionServers":[{"address":"http://gpu1:8080","accessKey":"k"}]})";
    const ParlivoSettings read = settingsFromJson(parseJson(everyKey));
    EXPECT_EQ(dumpCompact(toJson(read)), everyKey);
    EXPECT_EQ(read.organizeRoot, "/arch");
    EXPECT_EQ(read.parallelism, 2);
}

} // namespace
