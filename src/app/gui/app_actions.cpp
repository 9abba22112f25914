#include "app/gui/app_actions.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QPushButton>

#include "engine/transcriber.h"

AppActions::AppActions(Transcriber &engine, QWidget *window)
    : QObject(window), m_engine(engine), m_window(window) {
    chooseFolder = make(QStringLiteral("Choisir un dossier…"), QKeySequence::Open);
    voiceMemos = make(QStringLiteral("Mémos vocaux"), QKeySequence(QStringLiteral("Ctrl+Shift+M")));
    voiceMemos->setToolTip(QStringLiteral("Utiliser le dossier des enregistrements des mémos vocaux"));
    rescan = make(QStringLiteral("Nouveau scan"), QKeySequence::Refresh);
    rescan->setToolTip(QStringLiteral("Relire le dossier source en gardant le travail terminé"));
    revealOutput = make(QStringLiteral("Ouvrir le dossier des transcriptions"),
                        QKeySequence(QStringLiteral("Ctrl+Shift+O")));
    start = make(QStringLiteral("Lancer la transcription"), QKeySequence(QStringLiteral("Ctrl+Return")));
    pauseResume = make(QStringLiteral("Mettre en pause"), QKeySequence(QStringLiteral("Ctrl+P")));
    cancel = make(QStringLiteral("Annuler le lot"), QKeySequence(QStringLiteral("Ctrl+.")));
    retryErrors = make(QStringLiteral("Réessayer les erreurs"));
    retryErrors->setToolTip(QStringLiteral("Remettre en attente tous les fichiers en erreur"));
    showSettings = make(QStringLiteral("Réglages…"), QKeySequence(QStringLiteral("Ctrl+,")));
    showSettings->setMenuRole(QAction::PreferencesRole);
    showLibrary = make(QStringLiteral("Rechercher dans les vocaux…"), QKeySequence::Find);
    quit = make(QStringLiteral("Quitter"), QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    toggleFileList = make(QStringLiteral("Liste des fichiers"), QKeySequence(QStringLiteral("Ctrl+L")));
    toggleFileList->setCheckable(true);
    clearLog = make(QStringLiteral("Effacer le journal"), QKeySequence(QStringLiteral("Ctrl+K")));
    about = make(QStringLiteral("À propos de Parlivo"));
    about->setMenuRole(QAction::AboutRole);

    connect(chooseFolder, &QAction::triggered, this, [this] { chooseSourceFolder(m_window, m_engine); });
    connect(voiceMemos, &QAction::triggered, this, [this] { m_engine.useMacVoiceMemos(); });
    connect(rescan, &QAction::triggered, this, [this] { m_engine.rescan(); });
    connect(revealOutput, &QAction::triggered, this, [this] { m_engine.revealOutputFolder(); });
    connect(start, &QAction::triggered, this, [this] { m_engine.start(); });
    connect(pauseResume, &QAction::triggered, this, [this] {
        if (m_engine.isPaused())
            m_engine.resume();
        else
            m_engine.pause();
    });
    connect(cancel, &QAction::triggered, this, [this] { m_engine.cancel(); });
    connect(retryErrors, &QAction::triggered, this, [this] { m_engine.retryAllErrors(); });
    connect(showSettings, &QAction::triggered, this, &AppActions::settingsRequested);
    connect(showLibrary, &QAction::triggered, this, &AppActions::libraryRequested);
    connect(quit, &QAction::triggered, qApp, &QApplication::quit, Qt::QueuedConnection);
    connect(clearLog, &QAction::triggered, this, [this] { m_engine.clearLog(); });
    connect(about, &QAction::triggered, this, &AppActions::aboutRequested);

    for (auto signal : {&Transcriber::runStateChanged, &Transcriber::sourceFolderChanged,
                        &Transcriber::settingsChanged, &Transcriber::countersChanged, &Transcriber::modelsChanged})
        connect(&engine, signal, this, &AppActions::refresh);
    refresh();
}

QAction *AppActions::make(const QString &text, const QKeySequence &shortcut) {
    auto *action = new QAction(text, this);
    if (!shortcut.isEmpty()) action->setShortcut(shortcut);
    // Shortcuts work from every window of the application, the settings included.
    action->setShortcutContext(Qt::ApplicationShortcut);
    m_window->addAction(action);
    return action;
}

void AppActions::refresh() {
    const bool running = m_engine.isRunning();
    // A new scan would replace the queue under the running workers.
    chooseFolder->setEnabled(!running);
    voiceMemos->setEnabled(!running);
    rescan->setEnabled(!running && m_engine.sourceFolder().has_value());
    revealOutput->setEnabled(m_engine.outputRootFolder().has_value());
    start->setEnabled(!running && m_engine.toolsReady() && !m_engine.modelDownloadProgress());
    pauseResume->setEnabled(running);
    pauseResume->setText(m_engine.isPaused() ? QStringLiteral("Reprendre") : QStringLiteral("Mettre en pause"));
    cancel->setEnabled(running);
    retryErrors->setEnabled(m_engine.errorCount() > 0);
}

QFileDialog *makeFolderChooser(QWidget *parent, const QString &startFolder) {
    auto *dialog = new QFileDialog(parent);
    // Qt's own dialog: the desktop's would ignore the confirm label and the message.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setWindowTitle(QStringLiteral("Sélectionne le dossier contenant les fichiers audio à transcrire."));
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Choisir ce dossier"));
    dialog->setLabelText(QFileDialog::Reject, QStringLiteral("Annuler"));
    dialog->setLabelText(QFileDialog::LookIn, QStringLiteral("Regarder dans :"));
    dialog->setLabelText(QFileDialog::FileName, QStringLiteral("Dossier :"));
    dialog->setDirectory(startFolder.isEmpty() ? QDir::homePath() : startFolder);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    return dialog;
}

void chooseSourceFolder(QWidget *parent, Transcriber &engine) {
    if (engine.isRunning()) return;
    const auto current = engine.sourceFolder();
    QFileDialog *dialog = makeFolderChooser(parent, current ? current->toLocalFile() : QString());
    dialog->setObjectName(QStringLiteral("folderChooser"));
    QObject::connect(dialog, &QFileDialog::fileSelected, &engine, [&engine](const QString &folder) {
        // The run may have started while the chooser was open.
        if (!folder.isEmpty() && !engine.isRunning()) engine.setSourceFolder(QUrl::fromLocalFile(folder));
    });
    dialog->open();
}

QPushButton *actionButton(QAction *action, QWidget *parent) {
    auto *button = new QPushButton(action->text(), parent);
    auto sync = [button, action] {
        button->setText(action->text());
        button->setEnabled(action->isEnabled());
        button->setToolTip(action->toolTip() != action->text() ? action->toolTip() : QString());
    };
    QObject::connect(action, &QAction::changed, button, sync);
    QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
    sync();
    return button;
}
