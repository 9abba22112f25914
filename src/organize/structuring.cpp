#include "organize/structuring.h"

#include "core/atomic_file.h"
#include "correction/correction_error.h"
#include "organize/structure_prompts.h"
#include "organize/structured.h"
#include "organize/text_units.h"
#include "organize/transcript_reading.h"

#include <QFileInfo>

QString structurePathFor(const QString &transcriptPath) {
    const QFileInfo info(transcriptPath);
    return info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".structure.md");
}

OrgEntry withStructure(OrgEntry entry, const QString &transcriptPath, const std::optional<QString> &audioPath,
                       const QString &structurePath, const Structured &document) {
    entry.transcriptPath = transcriptPath;
    entry.audioPath = audioPath;
    entry.structurePath = structurePath;
    entry.title = document.title;
    entry.type = document.type;
    entry.rawCategory = document.category;
    entry.rawThemes = document.themes;
    entry.confidence = document.confidence;
    return entry;
}

namespace {
struct Cancelled {};

// Long memos are condensed passage by passage so the final call fits the context.
QCoro::Task<QString> textToStructure(const QString &body, const QString &name, const OrgPassHooks &hooks) {
    if (graphemeCount(body) <= shortMemoLimit) co_return body;
    QStringList notes;
    const QStringList passages = packPassages(body);
    for (qsizetype k = 0; k < passages.size(); ++k) {
        if (hooks.cancelled()) throw Cancelled{};
        hooks.current(name + QStringLiteral(" (partie %1)").arg(k + 1));
        notes.append(co_await hooks.ask(notesPrompt(), passages[k]));
    }
    co_return joinNotes(notes);
}

QString failureLine(const QString &transcriptPath, const QString &reason) {
    return QStringLiteral("Structuration échouée : ") + QFileInfo(transcriptPath).fileName() + QStringLiteral(" (") +
           reason + QLatin1Char(')');
}
} // namespace

QCoro::Task<StructureOutcome> structureOne(QString transcriptPath, OrgLedger &ledger, OrgPassHooks hooks) {
    const auto bytes = readWholeFile(transcriptPath);
    if (!bytes) co_return StructureOutcome::skipped;
    const TranscriptText transcript = readTranscriptText(QString::fromUtf8(*bytes));
    if (graphemeCount(transcript.body) < minimumBodyLength) co_return StructureOutcome::skipped;
    const QString fallbackTitle = QFileInfo(transcriptPath).completeBaseName();

    QString reply;
    try {
        const QString text = co_await textToStructure(transcript.body, fallbackTitle, hooks);
        reply = co_await hooks.ask(structurePrompt(), text);
    } catch (const Cancelled &) {
        co_return StructureOutcome::skipped;
    } catch (const CorrectionError &error) {
        hooks.note(failureLine(transcriptPath, error.errorDescription()));
        co_return error.isBackendDown() ? StructureOutcome::backendDown : StructureOutcome::failed;
    } catch (const std::exception &error) {
        hooks.note(failureLine(transcriptPath, errorText(error)));
        co_return StructureOutcome::failed;
    }

    const Structured document = parseStructured(reply, fallbackTitle);
    const QString sourceName = transcript.audio ? QFileInfo(*transcript.audio).fileName() : QString();
    const QString structurePath = structurePathFor(transcriptPath);
    if (auto error = writeFileAtomically(structurePath, structureFileContent(document, transcript.date, sourceName).toUtf8())) {
        hooks.note(failureLine(transcriptPath, error->reason));
        co_return StructureOutcome::failed;
    }
    // Looked up again: the ledger may have changed while the model answered.
    auto it = ledger.find(transcriptPath);
    OrgEntry entry = it != ledger.end() ? it->second : OrgEntry{};
    ledger[transcriptPath] = withStructure(std::move(entry), transcriptPath, transcript.audio, structurePath, document);
    co_return StructureOutcome::structured;
}
