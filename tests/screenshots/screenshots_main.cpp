// parlivo-screenshots DIR: renders the main window (idle, during a batch run
// by the stand-in recogniser, finished, without the file list, then with the
// AI stages' banners against the stand-in language-model server), the memo
// library's search and its reader on a hit, and every tab of the settings
// window to PNG files in DIR. Everything happens in a
// temporary home: the user's own state is never touched.
#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QProcess>
#include <QTabWidget>
#include <QTableView>
#include <QTreeWidget>
#include <QTextStream>

#include "app/gui/app_actions.h"
#include "app/gui/app_icon.h"
#include "app/gui/app_shell.h"
#include "app/gui/french_interface.h"
#include "app/gui/library_search.h"
#include "app/gui/library_window.h"
#include "app/gui/main_window.h"
#include "app/gui/progress_panel.h"
#include "app/gui/queue_view.h"
#include "app/gui/settings_window.h"
#include "engine/transcriber.h"
#include "organize/structure_prompts.h"
#include "support/correction_test_support.h"
#include "support/fake_llm_server.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

QTextStream err(stderr);

bool save(QWidget *widget, const QString &dir, const QString &name) {
    QApplication::processEvents();
    const QString path = dir + QLatin1Char('/') + name;
    const bool ok = widget->grab().save(path);
    err << (ok ? "écrit : " : "échec : ") << path << Qt::endl;
    return ok;
}

// A realistic folder of memos: a few sub-folders, a damaged file and one too short to hold speech.
void makeMemos(const QString &root) {
    const QStringList names = {
        "2024/mars/Réunion équipe produit.m4a", "2024/mars/Idée pour l'atelier.m4a",
        "2024/avril/Appel avec Claire.m4a",    "2024/avril/Liste de courses.m4a",
        "2024/avril/Notes conférence.m4a",     "Brouillon discours mariage.m4a",
        "Mémo voiture.m4a",                    "Rappel dentiste.m4a",
        "Podcast épisode 12.m4a",              "Répétition chorale.m4a",
    };
    for (int i = 0; i < names.size(); ++i) makeAudio(root + QLatin1Char('/') + names[i], 4 + 7 * i);
    makeAudio(root + QStringLiteral("/Bip.m4a"), 0.4);
    writeFile(root + QStringLiteral("/Enregistrement abîmé.m4a"), "pas de l'audio");
}

// The server's archive as the vendor lays it out, with a stand-in server
// program that only notes its start; returns its address.
QString makeServerArchive(const TempHome &home) {
    const QString staging = home.file(QStringLiteral("staging"));
    writeStandInOllama(staging + QStringLiteral("/bin/ollama"), home.file(QStringLiteral("ollama-calls.log")));
    const QString archive = home.file(QStringLiteral("ollama-linux-amd64.tgz"));
    QProcess::execute(QStringLiteral("tar"), {QStringLiteral("-czf"), archive, QStringLiteral("-C"), staging,
                                              QStringLiteral("bin")});
    return QUrl::fromLocalFile(archive).toString();
}

// A model that gives corrections back as they came and structures every memo as a note.
FakeReply languageModel(const FakeRequest &request) {
    const QString system = request.systemMessage();
    if (system == structurePrompt())
        return FakeReply::answer(QStringLiteral("---\ntitre: Note\ntype: idee\ncategorie: perso\nthemes: Projets\n"
                                                "confiance: 0.8\nresume: Un mémo.\n---\n\n## En une phrase\nUn mémo.\n"));
    if (system.contains(QStringLiteral("Tu ranges des mémos vocaux par thème")))
        return FakeReply::answer(QStringLiteral("{\"attributions\":[]}"));
    return FakeReply::answer(request.userMessage());
}

// The AI stages after the batch: what waits, the one-click install, a
// correction pass and an organization run, each caught in the middle.
bool shootAiStages(Transcriber &engine, MainWindow &window, FakeLlmServer &server, const TempHome &home,
                   const QString &outDir) {
    server.setModels({QStringLiteral("qwen2.5:7b")});
    server.respondWith(languageModel);
    server.stop(); // nothing installed, nothing running
    engine.setOllamaTimings({200, std::chrono::milliseconds(100), std::chrono::milliseconds(300)});
    ParlivoSettings settings = engine.settings();
    settings.correctionEnabled = true;
    settings.organizeEnabled = true;
    settings.ollamaEndpoint = server.endpoint();
    engine.setSettings(settings);
    engine.startOllamaMonitor();
    engine.refreshRawCount();
    spinUntil([&] { return engine.rawCount() > 0; }, 10000);
    spin(500);
    bool ok = save(&window, outDir, QStringLiteral("main-ai-waiting.png"));

    ScopedEnv archive{"PARLIVO_OLLAMA_DOWNLOAD_URL", makeServerArchive(home)};
    engine.installOllama();
    spinUntil([&] { return engine.installProgress() >= 0.68; }, 20000);
    spin(300);
    ok = save(&window, outDir, QStringLiteral("main-ai-install.png")) && ok;
    server.resume(); // the server answers: the install pulls the model and ends
    runTask(engine.waitForInstall(), 20000);

    server.setDelay(700);
    engine.startCorrectionPass();
    spinUntil([&] { return engine.correctionPassDone() >= 3; }, 30000);
    spin(300);
    ok = save(&window, outDir, QStringLiteral("main-ai-correction.png")) && ok;

    // The pass goes on to the organization by itself.
    spinUntil([&] { return engine.orgActive() && engine.orgDone() >= 2; }, 60000);
    spin(300);
    ok = save(&window, outDir, QStringLiteral("main-ai-organization.png")) && ok;
    engine.cancelOrganization();
    runTask(engine.waitForOrganization(), 30000);
    server.setDelay(0);
    return ok;
}

// The search over the memos just transcribed, then the reader on its first hit.
bool shootLibrary(MainWindow &window, const QString &outDir) {
    window.showLibrary(QStringLiteral("devis"));
    LibraryWindow *library = window.libraryWindow();
    LibrarySearch *search = library->searchPanel();
    spinUntil([&] { return !search->hits().isEmpty(); }, 20000);
    bool ok = save(library, outDir, QStringLiteral("library-search.png"));
    if (search->hits().isEmpty()) return false;
    bool shown = false;
    QObject::connect(library, &LibraryWindow::memoShown, library, [&shown] { shown = true; });
    search->results()->setCurrentItem(search->results()->topLevelItem(0));
    library->openHit(search->hits().first());
    spinUntil([&] { return shown; }, 20000);
    return save(library, outDir, QStringLiteral("library-reader.png")) && ok;
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Parlivo"));
    QApplication::setApplicationVersion(QStringLiteral("0.1.0"));
    useFrenchInterface();
    const QString outDir = QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("build/screenshots"))
                               .absolutePath();
    QDir().mkpath(outDir);

    TempHome home;
    const QString memos = home.file(QStringLiteral("Mémos"));
    makeMemos(memos);
    writeFile(home.file(QStringLiteral(".hestia/ggml-base.bin")), QByteArray(148 * 1000 * 1000 / 1000, 'x'));
    writeFile(home.file(QStringLiteral(".hestia/ggml-large-v3-turbo.bin")), QByteArray(1600 * 1000, 'x'));
    // Slow enough for the batch to be caught in the middle, and memos long
    // enough for the language model to have something to correct and sort.
    ScopedEnv recogniser{{"FAKE_WHISPER_DELAY", QStringLiteral("2")},
                         {"FAKE_WHISPER_SEGMENTS",
                          QStringLiteral(R"([" Bon, pour la réunion de jeudi il faut préparer le point sur le budget.",)"
                                         R"( " Et penser à rappeler Claire pour le devis de la cuisine."])")}};

    Tools tools;
    tools.whisper = buildPath(QStringLiteral("fake-whisper-cli"));
    tools.ffmpeg = QStringLiteral("/usr/bin/ffmpeg");
    tools.ffprobe = QStringLiteral("/usr/bin/ffprobe");
    FakeLlmServer server; // the language model's stand-in, for the AI stages (outlives the engine)
    AppShell shell(tools);
    Transcriber &engine = shell.engine();
    engine.setUrlOpener([](const QUrl &) {});
    ParlivoSettings settings = engine.settings();
    settings.modelPath = home.file(QStringLiteral(".hestia/ggml-large-v3-turbo.bin"));
    settings.language = QStringLiteral("fr");
    settings.parallelism = 2;
    settings.outputFormat = OutputFormat::both;
    settings.correctionEnabled = false;
    settings.organizeEnabled = false;
    engine.setSettings(settings);
    engine.refreshModels();
    engine.setSourceFolder(QUrl::fromLocalFile(memos));

    MainWindow &window = shell.window();
    window.resize(980, 760);
    window.show();
    spin(300);
    bool ok = save(&window, outDir, QStringLiteral("main-idle.png"));

    engine.start();
    spinUntil([&] { return engine.doneCount() >= 4 && engine.runningCount() == 2; }, 60000);
    spinUntil([&] { return engine.primaryRunningFile() && engine.primaryRunningFile()->progress >= 0.4; }, 20000);
    window.progressPanel()->refreshNow();
    ok = save(&window, outDir, QStringLiteral("main-running.png")) && ok;

    runTask(engine.waitForRun(), 120000);
    window.progressPanel()->refreshNow();
    // The failed file selected, as when its error is read from the tooltip.
    for (int row = 0; row < engine.total(); ++row)
        if (engine.files()[row].status == FileStatus::error) window.queueView()->table()->selectRow(row);
    ok = save(&window, outDir, QStringLiteral("main-finished.png")) && ok;

    window.actions().toggleFileList->setChecked(false);
    ok = save(&window, outDir, QStringLiteral("main-compact.png")) && ok;
    window.actions().toggleFileList->setChecked(true);
    ok = shootAiStages(engine, window, server, home, outDir) && ok;
    ok = shootLibrary(window, outDir) && ok;

    SettingsWindow *settingsWindow = window.settingsWindow();
    settingsWindow->show();
    const QStringList tabNames = {"transcription", "destination", "correction", "organisation", "modeles"};
    for (int i = 0; i < settingsWindow->tabs()->count() && i < tabNames.size(); ++i) {
        settingsWindow->tabs()->setCurrentIndex(i);
        ok = save(settingsWindow, outDir, QStringLiteral("settings-%1.png").arg(tabNames[i])) && ok;
    }

    QPixmap icon(256, 256);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    paintAppIcon(painter, QRectF(0, 0, 256, 256));
    painter.end();
    ok = icon.save(outDir + QStringLiteral("/icon.png")) && ok;
    return ok ? 0 : 1;
}
