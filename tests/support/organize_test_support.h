#pragma once
// The stand-in server's answers as a model would give them, for the
// organization runs.

#include <QString>
#include <QStringList>

#include "organize/structure_prompts.h"

#include "support/fake_llm_server.h"
#include "support/test_support.h"

namespace testing_support {

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
