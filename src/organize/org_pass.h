#pragma once
// What an organization pass needs from the engine, handed in explicitly:
// the model call, cancellation, progress and the log. Any hook left empty is
// simply not called (a missing cancellation check never cancels).

#include <QString>

#include <qcoro/qcorotask.h>

#include <exception>
#include <functional>

// One system-plus-user prompt sent to the organization model. Throws
// CorrectionError (or another std::exception) when the call fails.
using AskFunction = std::function<QCoro::Task<QString>(QString system, QString user)>;
using LogFunction = std::function<void(const QString &)>;

struct OrgPassHooks {
    AskFunction ask;
    std::function<bool()> isCancelled;
    std::function<void(const QString &)> setCurrent; // the name shown as being worked on
    std::function<void()> memoDone;                  // one more memo sorted
    LogFunction log;

    bool cancelled() const { return isCancelled && isCancelled(); }
    void current(const QString &name) const {
        if (setCurrent) setCurrent(name);
    }
    void done() const {
        if (memoDone) memoDone();
    }
    void note(const QString &line) const {
        if (log) log(line);
    }
};

// The text of any error a model call may throw.
QString errorText(const std::exception &error);
