#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/gui/display_texts.h"
#include "app/gui/settings_pages.h"
#include "app/gui/settings_servers_box.h"
#include "app/gui/settings_support.h"
#include "engine/transcriber.h"
#include "provisioning/model_catalog.h"

TranscriptionPage::TranscriptionPage(Transcriber &engine, QWidget *parent) : QWidget(parent), m_engine(engine) {
    auto *column = new QVBoxLayout(this);

    auto *group = new QGroupBox(QStringLiteral("Reconnaissance de la parole"), this);
    auto *form = makeForm(group);
    m_model = new QComboBox(group);
    m_model->setObjectName(QStringLiteral("modelChoice"));
    m_model->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    auto *manage = new QPushButton(QStringLiteral("Gérer les modèles…"), group);
    form->addRow(QStringLiteral("Modèle whisper :"), buttonRow({m_model, manage}, group));
    m_language = new QComboBox(group);
    m_language->setObjectName(QStringLiteral("language"));
    for (const auto &[value, name] : languageChoices()) m_language->addItem(name, value);
    form->addRow(QStringLiteral("Langue parlée :"), m_language);

    m_parallelism = new QSpinBox(group);
    m_parallelism->setObjectName(QStringLiteral("parallelism"));
    m_parallelism->setRange(1, engine.maxParallelism());
    m_parallelism->setToolTip(QStringLiteral("Au plus un fichier par cœur du processeur (%1 ici) ; 0 quand des "
                                             "serveurs de reconnaissance font tout le travail.")
                                  .arg(engine.maxParallelism()));
    form->addRow(QStringLiteral("Fichiers transcrits en même temps :"), m_parallelism);

    m_timestamps = new QCheckBox(QStringLiteral("Horodater chaque segment dans la transcription"), group);
    m_timestamps->setObjectName(QStringLiteral("timestamps"));
    form->addRow(m_timestamps);
    m_autoResume = new QCheckBox(QStringLiteral("Reprendre au lancement un lot interrompu"), group);
    m_autoResume->setObjectName(QStringLiteral("autoResume"));
    form->addRow(m_autoResume);
    m_watchFolder = new QCheckBox(QStringLiteral("Surveiller le dossier source et transcrire les vocaux qui y arrivent"),
                                  group);
    m_watchFolder->setObjectName(QStringLiteral("watchFolder"));
    m_watchFolder->setToolTip(QStringLiteral("Tant que la fenêtre est ouverte, chaque nouveau vocal (ou vocal remplacé) "
                                             "est transcrit dès qu'il ne change plus depuis 3 secondes."));
    form->addRow(m_watchFolder);
    column->addWidget(group);
    m_servers = new ServersBox(engine, this);
    column->addWidget(m_servers);
    column->addStretch(1);

    connect(m_model, &QComboBox::activated, this, [this](int index) {
        const QString path = m_model->itemData(index).toString();
        editSettings(m_engine, [&](ParlivoSettings &s) { s.modelPath = path; });
    });
    connect(manage, &QPushButton::clicked, this, &TranscriptionPage::manageModelsRequested);
    connect(m_language, &QComboBox::activated, this, [this](int index) {
        const QString code = m_language->itemData(index).toString();
        editSettings(m_engine, [&](ParlivoSettings &s) { s.language = code; });
    });
    connect(m_parallelism, &QSpinBox::valueChanged, this, [this](int value) {
        editSettings(m_engine, [&](ParlivoSettings &s) { s.parallelism = value; });
    });
    connect(m_timestamps, &QCheckBox::toggled, this, [this](bool on) {
        editSettings(m_engine, [&](ParlivoSettings &s) { s.timestamps = on; });
    });
    connect(m_autoResume, &QCheckBox::toggled, this, [this](bool on) {
        editSettings(m_engine, [&](ParlivoSettings &s) { s.autoResume = on; });
    });
    connect(m_watchFolder, &QCheckBox::toggled, this, [this](bool on) {
        editSettings(m_engine, [&](ParlivoSettings &s) { s.watchFolder = on; });
    });
    connect(&engine, &Transcriber::modelsChanged, this, &TranscriptionPage::refreshModels);
    refresh();
}

void TranscriptionPage::refreshModels() {
    const QSignalBlocker block(m_model);
    m_model->clear();
    const QString current = m_engine.settings().modelPath;
    if (!m_engine.modelAvailable()) {
        // A missing file stays visible as what is configured, not silently replaced.
        m_model->addItem(current.isEmpty() ? QStringLiteral("Aucun modèle")
                                           : QStringLiteral("%1 (introuvable)").arg(m_engine.modelDisplayName()),
                         current);
    }
    for (const ModelInfo &model : m_engine.availableModels()) {
        m_model->addItem(model.name, model.path);
        m_model->setItemData(m_model->count() - 1, model.path, Qt::ToolTipRole);
    }
    m_model->setCurrentIndex(std::max(0, m_model->findData(current)));
}

void TranscriptionPage::refresh() {
    const ParlivoSettings &s = m_engine.settings();
    refreshModels();
    {
        const QSignalBlocker block(m_language);
        int index = m_language->findData(s.language);
        if (index < 0) {
            // A code set elsewhere (the command line) is shown as it is.
            m_language->addItem(s.language, s.language);
            index = m_language->count() - 1;
        }
        m_language->setCurrentIndex(index);
    }
    {
        // None on this machine only when servers take the files.
        const QSignalBlocker block(m_parallelism);
        const bool serversSet = !s.recognitionServers.isEmpty();
        m_parallelism->setMinimum(serversSet ? 0 : 1);
        m_parallelism->setSpecialValueText(serversSet ? QStringLiteral("0 (aucun travail local)") : QString());
        m_parallelism->setValue(s.localWorkers());
    }
    m_servers->refresh();
    const QSignalBlocker blockTimestamps(m_timestamps), blockResume(m_autoResume), blockWatch(m_watchFolder);
    m_timestamps->setChecked(s.timestamps);
    m_autoResume->setChecked(s.autoResume);
    m_watchFolder->setChecked(s.watchFolder);
}
