#pragma once
// String-valued enums: the raw value is the case name, written as such in the
// state files. Each enum has its raw value, its French label, construction from
// a raw text (nothing for an unknown one) and the ordered list of its cases.

#include <QList>
#include <QString>

#include <optional>

enum class FileStatus { pending, running, done, skipped, error, empty };
enum class OutputFormat { txt, md, both };
enum class SubtitleFormat { none, srt, vtt, both };
enum class DestinationMode { besideSource, custom };
enum class CorrectionBackend { none, ollama, anthropic };

template <typename E> struct EnumCase {
    E value;
    const char *raw;
    const char *label;
};

template <typename E> struct EnumTable; // specialised below for each enum

template <> struct EnumTable<FileStatus> {
    static constexpr EnumCase<FileStatus> cases[] = {
        {FileStatus::pending, "pending", "En attente"}, {FileStatus::running, "running", "En cours"},
        {FileStatus::done, "done", "Terminé"},          {FileStatus::skipped, "skipped", "Sauté"},
        {FileStatus::error, "error", "Erreur"},         {FileStatus::empty, "empty", "Vide"},
    };
};
template <> struct EnumTable<OutputFormat> {
    static constexpr EnumCase<OutputFormat> cases[] = {
        {OutputFormat::txt, "txt", "Texte (.txt)"},
        {OutputFormat::md, "md", "Markdown (.md)"},
        {OutputFormat::both, "both", "Les deux"},
    };
};
template <> struct EnumTable<SubtitleFormat> {
    static constexpr EnumCase<SubtitleFormat> cases[] = {
        {SubtitleFormat::none, "none", "Aucun"},
        {SubtitleFormat::srt, "srt", "SRT (.srt)"},
        {SubtitleFormat::vtt, "vtt", "WebVTT (.vtt)"},
        {SubtitleFormat::both, "both", "Les deux"},
    };
};
template <> struct EnumTable<DestinationMode> {
    static constexpr EnumCase<DestinationMode> cases[] = {
        {DestinationMode::besideSource, "besideSource", "À côté de chaque fichier"},
        {DestinationMode::custom, "custom", "Dossier de sortie dédié"},
    };
};
template <> struct EnumTable<CorrectionBackend> {
    static constexpr EnumCase<CorrectionBackend> cases[] = {
        {CorrectionBackend::none, "none", "Aucune"},
        {CorrectionBackend::ollama, "ollama", "Ollama (local)"},
        {CorrectionBackend::anthropic, "anthropic", "API Anthropic (cloud)"},
    };
};

template <typename E> QString rawValue(E value) {
    for (const auto &c : EnumTable<E>::cases)
        if (c.value == value) return QString::fromLatin1(c.raw);
    return {};
}

template <typename E> QString label(E value) {
    for (const auto &c : EnumTable<E>::cases)
        if (c.value == value) return QString::fromUtf8(c.label);
    return {};
}

template <typename E> std::optional<E> fromRaw(const QString &raw) {
    for (const auto &c : EnumTable<E>::cases)
        if (raw == QLatin1String(c.raw)) return c.value;
    return std::nullopt;
}

template <typename E> QList<E> allCases() {
    QList<E> out;
    for (const auto &c : EnumTable<E>::cases) out.append(c.value);
    return out;
}

// Name of the system pictogram shown beside a status in the file list.
QString symbol(FileStatus status);

inline constexpr int fileStatusCount = 6;
