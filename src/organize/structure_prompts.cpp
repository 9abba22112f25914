#include "organize/structure_prompts.h"

const QString &structurePrompt() {
    static const QString prompt = QStringLiteral(
        "Tu transformes la transcription d'un mémo vocal (souvent décousue, sans structure) en un document "
        "structuré, prêt à l'emploi. Tu ne résumes pas : tu RÉORGANISES tout le contenu, sans rien inventer ni "
        "rien perdre. Tu écris dans la langue du mémo.\n"
        "\n"
        "Réponds EXACTEMENT dans ce format, sans texte avant ni après :\n"
        "---\n"
        "titre: <titre court et précis, 3 à 8 mots>\n"
        "type: <un seul mot parmi : idee, projet, journal, taches, reflexion, reunion, cours, autre>\n"
        "categorie: <perso ou pro ; si impossible à dire : incertain>\n"
        "themes: <1 à 3 mots-clés simples, séparés par des virgules>\n"
        "confiance: <nombre entre 0 et 1>\n"
        "resume: <une seule phrase qui dit de quoi parle le mémo>\n"
        "---\n"
        "\n"
        "## En une phrase\n"
        "<l'idée centrale>\n"
        "\n"
        "## Contenu structuré\n"
        "<le contenu réorganisé avec des sous-titres ### et des listes, selon le type :\n"
        "- idee ou projet : Problème, Proposition, Comment, Prochaines étapes\n"
        "- journal ou reflexion : Ce qui s'est passé, Ressenti, Ce que j'en retiens\n"
        "- taches : une liste de cases à cocher \"- [ ]\"\n"
        "- reunion : Participants, Décisions, Actions, À suivre\n"
        "- cours : Notions clés, Explications, À retenir\n"
        "- autre : des sections logiques>\n"
        "\n"
        "## Actions\n"
        "<liste \"- [ ]\" des choses à faire mentionnées, ou \"Aucune\">\n"
        "\n"
        "## À creuser\n"
        "<questions ouvertes, ou \"Aucune\">");
    return prompt;
}

const QString &notesPrompt() {
    static const QString prompt = QStringLiteral(
        "Voici un passage de la transcription d'un long mémo vocal. Rédige des notes structurées, fidèles et "
        "détaillées de ce passage : conserve tous les faits, idées, décisions, tâches, noms et chiffres. "
        "N'invente rien, ne commente pas. Utilise des listes. Réponds uniquement avec les notes.");
    return prompt;
}
