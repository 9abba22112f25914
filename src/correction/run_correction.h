#pragma once
// The language-model stage of a batch: whether this run corrects (decided
// once before its first file) and the correction of each file's text, with
// the name of the file whose text is with the model.

#include <QObject>
#include <QString>

#include <optional>

#include <qcoro/qcorotask.h>

#include "core/cancellation.h"
#include "core/event_log.h"
#include "core/settings.h"
#include "provisioning/ollama_runtime.h"

class RunCorrection : public QObject {
    Q_OBJECT

public:
    RunCorrection(const ParlivoSettings &settings, EventLog &log, OllamaRuntime &ollama, QObject *parent = nullptr);

    // Checks the service once for the run: a server down or a key missing
    // means raw text for the whole run, said once.
    QCoro::Task<> preflight();
    bool activeThisRun() const { return m_activeThisRun; }
    // This run corrects, and there is text to correct.
    bool wants(const QString &text) const { return m_activeThisRun && !text.trimmed().isEmpty(); }
    // The model's text, or nothing (raw text kept). A dead service is given
    // its chance to come back; otherwise correction stops for the rest of the run.
    QCoro::Task<std::optional<QString>> correct(QString name, QString text, Cancellation &cancel);
    // The file whose text is with the language model during a batch.
    const std::optional<QString> &correctingName() const { return m_correctingName; }

signals:
    void changed(); // the file with the model

private:
    void setCorrectingName(std::optional<QString> name);

    const ParlivoSettings &m_settings;
    EventLog &m_log;
    OllamaRuntime &m_ollama;
    bool m_activeThisRun = false;
    std::optional<QString> m_correctingName;
};
