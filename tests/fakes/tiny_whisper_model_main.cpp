// Writes a whisper.cpp model with random weights, for benchmarks and trying
// Parlivo by hand with the real recogniser: tiny-whisper-model FILE [SEED]
#include <QCoreApplication>
#include <QTextStream>

#include "fakes/tiny_whisper_model.h"

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        QTextStream(stderr) << "usage : tiny-whisper-model FICHIER [GRAINE]\n";
        return 2;
    }
    const uint32_t seed = args.size() > 2 ? args[2].toUInt() : 1;
    if (!testing_support::writeTinyWhisperModel(args[1], seed)) {
        QTextStream(stderr) << "Écriture impossible : " << args[1] << "\n";
        return 1;
    }
    return 0;
}
