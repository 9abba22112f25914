#include "organize/theme_text.h"

#include "organize/org_names.h"
#include "organize/text_units.h"

#include <algorithm>
#include <climits>

namespace {
const QString noneYet = QStringLiteral("(aucun pour l'instant)");

QString listOrNone(const QStringList &themes) { return themes.isEmpty() ? noneYet : themes.join(QStringLiteral(", ")); }

// The outermost {...} of a reply that may wrap its JSON in prose or fences.
std::optional<Json> jsonObjectIn(const QString &reply) {
    const qsizetype open = reply.indexOf(QLatin1Char('{'));
    const qsizetype close = reply.lastIndexOf(QLatin1Char('}'));
    if (open < 0 || close < 0 || close < open) return std::nullopt;
    try {
        Json json = parseJson(reply.mid(open, close - open + 1).toUtf8());
        if (!json.is_object()) return std::nullopt;
        return json;
    } catch (const DecodeError &) {
        return std::nullopt;
    }
}

std::optional<int> assignmentId(const Json &value) {
    if (value.is_number_integer()) {
        const auto id = value.get<qint64>();
        if (id >= INT_MIN && id <= INT_MAX) return int(id);
        return std::nullopt;
    }
    if (value.is_number_float()) {
        try {
            const qint64 id = jsonfield::integer(value, "id");
            if (id >= INT_MIN && id <= INT_MAX) return int(id);
        } catch (const DecodeError &) {
        }
        return std::nullopt;
    }
    if (value.is_string()) {
        bool ok = false;
        const int id = QString::fromStdString(value.get<std::string>()).trimmed().toInt(&ok);
        if (ok) return id;
    }
    return std::nullopt;
}

QString stringAt(const Json &object, const char *key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return {};
    return QString::fromStdString(it->get<std::string>());
}
} // namespace

QString assignPrompt(const QStringList &existingThemes) {
    static const QString p1 = QStringLiteral(
        "Tu ranges des mémos vocaux par thème. Chaque ligne d'entrée : numéro | catégorie proposée "
        "(perso/pro/incertain) | mots-clés | titre.\n"
        "Objectif : un classement clair et STABLE, avec peu de thèmes et des noms courts en français (1 à 3 mots, "
        "ex. \"Santé\", \"Clients\", \"Idées produit\", \"Famille\", \"Finances\").\n"
        "Règles :\n"
        "- Réutilise en priorité les thèmes existants : ");
    static const QString p2 = QStringLiteral(
        ".\n"
        "- Ne crée un nouveau thème que si aucun existant ne convient. Maximum 12 thèmes par catégorie.\n"
        "- categorie : \"perso\" (vie personnelle) ou \"pro\" (travail, business, clients) ; \"incertain\" "
        "seulement si c'est vraiment impossible à dire.\n"
        "Réponds UNIQUEMENT avec un JSON valide, sans texte autour, de la forme :\n"
        "{\"attributions\":[{\"id\":1,\"categorie\":\"pro\",\"theme\":\"Clients\"}]}\n"
        "Un objet par numéro d'entrée.");
    return p1 + listOrNone(existingThemes) + p2;
}

QString assignmentLine(int number, const OrgEntry *entry) {
    const QString category = entry && entry->rawCategory ? *entry->rawCategory : QStringLiteral("incertain");
    const QString keywords = entry ? entry->rawThemes.join(QStringLiteral(", ")) : QString();
    const QString title = entry && entry->title ? leftGraphemes(*entry->title, maxRequestTitleLength) : QString();
    const QString separator = QStringLiteral(" | ");
    return QString::number(number) + separator + category + separator + keywords + separator + title;
}

Assignments parseAssignments(const QString &reply) {
    Assignments assignments;
    const auto json = jsonObjectIn(reply);
    if (!json) return assignments;
    auto list = json->find("attributions");
    if (list == json->end() || !list->is_array()) return assignments;
    for (const Json &item : *list) {
        if (!item.is_object()) continue;
        auto idValue = item.find("id");
        if (idValue == item.end()) continue;
        const auto id = assignmentId(*idValue);
        if (!id) continue;
        assignments[*id] = Assignment{normalizeCategory(stringAt(item, "categorie")), stringAt(item, "theme").trimmed()};
    }
    return assignments;
}

QString fallbackTheme(const QStringList &rawThemes) {
    if (rawThemes.isEmpty()) return QStringLiteral("Divers");
    const QString keyword = rawThemes.first();
    const QString first = leftGraphemes(keyword, 1);
    return sanitizeFolder(first.toUpper() + keyword.mid(first.size()));
}

QString consolidationPrompt(const QStringList &canonicalThemes) {
    static const QString c1 = QStringLiteral(
        "Tu regroupes une liste de thèmes en AU PLUS 12 thèmes canoniques, stables, à noms courts (1 à 3 mots, en "
        "français). Thèmes canoniques DÉJÀ en place, à réutiliser en priorité : ");
    static const QString c2 = QStringLiteral(
        ". Fusionne les synonymes, le singulier/pluriel, les variantes d'accent ou de casse, et range chaque thème "
        "à un seul élément dans le thème canonique le plus proche. Réponds UNIQUEMENT avec un JSON valide, sans "
        "texte autour, de la forme {\"map\":{\"Thème d'origine\":\"Thème canonique\"}} couvrant TOUS les thèmes "
        "fournis.");
    return c1 + listOrNone(canonicalThemes) + c2;
}

QString consolidationList(const QStringList &themes, const std::map<QString, int> &counts) {
    QStringList ordered = themes;
    const auto countOf = [&](const QString &theme) {
        auto it = counts.find(theme);
        return it == counts.end() ? 0 : it->second;
    };
    std::stable_sort(ordered.begin(), ordered.end(),
                     [&](const QString &a, const QString &b) { return countOf(a) > countOf(b); });
    QStringList items;
    for (const QString &theme : ordered) items.append(theme + QStringLiteral(" (%1)").arg(countOf(theme)));
    return items.join(QStringLiteral(", "));
}

std::optional<std::map<QString, QString>> parseConsolidation(const QString &reply) {
    const auto json = jsonObjectIn(reply);
    if (!json) return std::nullopt;
    auto map = json->find("map");
    if (map == json->end() || !map->is_object()) return std::nullopt;
    std::map<QString, QString> mapping;
    for (auto it = map->begin(); it != map->end(); ++it) {
        if (!it.value().is_string()) return std::nullopt;
        mapping[QString::fromStdString(it.key())] = QString::fromStdString(it.value().get<std::string>());
    }
    return mapping;
}

QSet<QString> consolidationTargets(const std::map<QString, QString> &mapping) {
    QSet<QString> targets;
    for (const auto &[theme, canonical] : mapping)
        if (!canonical.trimmed().isEmpty()) targets.insert(sanitizeFolder(canonical));
    return targets;
}

bool acceptConsolidation(qsizetype themeCount, qsizetype targetCount) {
    return targetCount >= 1 && targetCount <= maxConsolidatedThemes && targetCount < themeCount;
}
