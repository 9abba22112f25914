#pragma once
// Parlivo's only client for language models: the transcript clean-up, the
// plain prompt call used by the organization, and the Ollama probe and model
// list. Stateless; every call takes the settings by value and builds its own
// request on the shared HTTP client, so callers await it on the main thread.
// Failures are thrown as CorrectionError.

#include <QPointer>
#include <QString>
#include <QStringList>

#include <optional>

#include <qcoro/qcorotask.h>

#include "core/cancellation.h"
#include "core/settings.h"
#include "correction/correction_error.h"
#include "correction/correction_text.h"
#include "correction/llm_wire.h"

namespace Corrector {

// True when GET endpoint/api/tags answers HTTP 200 within 4 s. Never throws.
QCoro::Task<bool> ollamaReachable(QString endpoint);

// The names the server lists; empty on any failure. Never throws.
QCoro::Task<QStringList> ollamaModels(QString endpoint);

// A configured name counts as installed when a listed name begins with it,
// so "qwen2.5" matches "qwen2.5:latest".
bool modelInstalled(const QStringList &names, const QString &model);

// The corrected transcript. Short texts and the `none` backend give the text
// back untouched; long ones go as pieces, one after another, and come back
// joined by a blank line. Throws CorrectionError::empty when an answer is
// nothing but preamble, CorrectionError::cancelled as soon as `cancel` is
// cancelled (the request in flight is aborted).
QCoro::Task<QString> correct(QString text, ParlivoSettings settings, QPointer<Cancellation> cancel = {});

// Sends `system` and `user` as they are and returns the raw answer: to
// Anthropic when that is the backend, else (`none` included) to Ollama with
// `model` (empty: the settings' model) and the context floor `numCtx`.
QCoro::Task<QString> ask(QString system, QString user, ParlivoSettings settings,
                         std::optional<QString> model = {}, std::optional<int> numCtx = {});

} // namespace Corrector
