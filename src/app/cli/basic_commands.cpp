// Commands that choose the source folder and show the state.
#include "app/cli/cli.h"
#include "app/front/state_commands.h"
#include "engine/transcriber.h"

namespace cli {

int usage(QTextStream &err) {
    err << "Utilisation : parlivo-cli COMMANDE [ARGUMENTS]\n"
           "  scan DOSSIER                 choisir DOSSIER comme source et afficher la file\n"
           "  voice-memos                  utiliser le dossier des mémos vocaux\n"
           "  status                       compteurs, puis une ligne par fichier\n"
           "  run [DOSSIER]                transcrire la file (en reprenant un lot interrompu), puis corriger\n"
           "  watch [DOSSIER]              surveiller le dossier et transcrire les vocaux qui y arrivent (Ctrl-C)\n"
           "  retry [FICHIER…]             remettre en attente (tous les fichiers en erreur sans argument)\n"
           "  force FICHIER…               transcrire à nouveau ces fichiers, même à jour\n"
           "  models [--download FICHIER]  modèles locaux et catalogue, ou un téléchargement\n"
           "  correct                      corriger par l'IA les transcriptions restées brutes\n"
           "  install-ollama               installer Ollama et son modèle de correction\n"
           "  organize                     ranger les mémos par thème dans l'archive organisée\n"
           "  search MOTS…                 chercher dans tous les mémos (\"une expression\" entre guillemets)\n"
           "  settings [CLÉ [VALEUR]]      afficher ou modifier les réglages\n"
           "  settings --reset-prompt      rétablir l'instruction de correction par défaut\n";
    err.flush();
    return badUsage;
}

bool chooseFolder(Context &ctx, const QString &path) {
    const auto folder = folderArgument(path, ctx.err);
    if (!folder) return false;
    if (isSourceFolder(ctx.engine.sourceFolder(), *folder))
        ctx.engine.rescan();
    else
        ctx.engine.setSourceFolder(*folder);
    return true;
}

QCoro::Task<int> scan(Context &ctx) {
    if (ctx.args.size() != 1) co_return usage(ctx.err);
    if (!chooseFolder(ctx, ctx.args.first())) co_return badUsage;
    printQueue(ctx.engine.files(), ctx.out);
    co_return success;
}

QCoro::Task<int> voiceMemos(Context &ctx) {
    if (!ctx.args.isEmpty()) co_return usage(ctx.err);
    if (!ctx.engine.macVoiceMemosFolder()) {
        ctx.engine.useMacVoiceMemos(); // logs why
        co_return badUsage;
    }
    ctx.engine.useMacVoiceMemos();
    printQueue(ctx.engine.files(), ctx.out);
    co_return success;
}

QCoro::Task<int> status(Context &ctx) {
    if (!ctx.args.isEmpty()) co_return usage(ctx.err);
    printStatus(ctx.engine, ctx.out);
    co_return success;
}

} // namespace cli
