#pragma once
// A scripted stand-in for the organization model, a probe recording what the
// passes report, and the stand-in server's answers as a model would give
// them, for the organization tests.

#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>
#include <qcoro/qcorotimer.h>

#include <deque>
#include <ostream>
#include <functional>
#include <variant>
#include <vector>

#include "correction/correction_error.h"
#include "organize/org_pass.h"
#include "organize/structure_prompts.h"

#include "support/fake_llm_server.h"
#include "support/test_support.h"

namespace testing_support {

class ScriptedModel {
public:
    struct Call {
        QString system;
        QString user;
    };
    using Responder = std::function<QString(const Call &)>;

    // Answers from the script first, then from `responder` (empty text without one).
    explicit ScriptedModel(Responder responder = {}) : m_responder(std::move(responder)) {}

    void reply(const QString &text) { m_script.emplace_back(text); }
    void fail(const CorrectionError &error) { m_script.emplace_back(error); }

    AskFunction ask() {
        return [this](QString system, QString user) { return answer(std::move(system), std::move(user)); };
    }

    std::vector<Call> calls;

private:
    QCoro::Task<QString> answer(QString system, QString user) {
        calls.push_back({system, user});
        // A real model answers later: the passes must cope with the suspension.
        co_await QCoro::sleepFor(std::chrono::milliseconds(1));
        if (!m_script.empty()) {
            auto next = std::move(m_script.front());
            m_script.pop_front();
            if (auto *error = std::get_if<CorrectionError>(&next)) throw *error;
            co_return std::get<QString>(next);
        }
        co_return m_responder ? m_responder(calls.back()) : QString();
    }

    std::deque<std::variant<QString, CorrectionError>> m_script;
    Responder m_responder;
};

struct PassProbe {
    QStringList log;
    QStringList current;
    int memosDone = 0;
    std::function<bool()> cancelWhen;

    OrgPassHooks hooks(ScriptedModel &model) {
        OrgPassHooks h;
        h.ask = model.ask();
        h.isCancelled = [this] { return cancelWhen && cancelWhen(); };
        h.setCurrent = [this](const QString &name) { current.append(name); };
        h.memoDone = [this] { ++memosDone; };
        h.log = [this](const QString &line) { log.append(line); };
        return h;
    }
};

// Answers like a model would: a document whose category and keyword follow
// the memo's words, attributions that keep them, and no consolidation.
inline FakeReply modelLike(const FakeRequest &request) {
    const QString system = request.systemMessage();
    const QString user = request.userMessage();
    if (system == structurePrompt()) {
        QString category = "incertain", theme = "Divers", title = "Note sans sujet";
        if (user.contains("client")) category = "pro", theme = "Clients", title = "Relance du client";
        if (user.contains("famille")) category = "perso", theme = "Famille", title = "Dimanche en famille";
        return FakeReply::answer("---\ntitre: " + title + "\ntype: projet\ncategorie: " + category +
                                 "\nthemes: " + theme + "\nconfiance: 0.9\nresume: Un mémo.\n---\n\n"
                                 "## En une phrase\n" + user.left(40) + "\n");
    }
    if (system.contains("Tu ranges des mémos vocaux par thème")) {
        QStringList items;
        for (const QString &line : user.split('\n', Qt::SkipEmptyParts)) {
            const QStringList parts = line.split(" | ");
            if (parts.size() < 3) continue;
            items << QStringLiteral(R"({"id":%1,"categorie":"%2","theme":"%3"})")
                         .arg(parts[0].trimmed(), parts[1].trimmed(), parts[2].section(',', 0, 0).trimmed());
        }
        return FakeReply::answer("{\"attributions\":[" + items.join(',') + "]}");
    }
    return FakeReply::answer("{\"map\":{}}");
}

} // namespace testing_support
