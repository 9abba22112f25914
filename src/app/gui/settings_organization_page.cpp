#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/gui/settings_ai_runs.h"
#include "app/gui/settings_pages.h"
#include "app/gui/settings_support.h"
#include "engine/transcriber.h"

OrganizationPage::OrganizationPage(Transcriber &engine, QWidget *parent) : QWidget(parent), m_engine(engine) {
    auto *column = new QVBoxLayout(this);
    auto *group = new QGroupBox(QStringLiteral("Archive organisée"), this);
    auto *form = makeForm(group);

    m_enabled = new QCheckBox(QStringLiteral("Ranger les vocaux par thème après la correction"), group);
    m_enabled->setObjectName(QStringLiteral("organizeEnabled"));
    form->addRow(m_enabled);

    m_root = new FolderField(QStringLiteral("Dossier de l'archive organisée"), group);
    m_root->setObjectName(QStringLiteral("organizeRoot"));
    m_root->edit()->setPlaceholderText(QStringLiteral("« Archive organisée » dans le dossier des transcriptions"));
    form->addRow(QStringLiteral("Dossier de l'archive :"), m_root);

    m_copyAudio = new QCheckBox(QStringLiteral("Copier l'audio dans l'archive (sinon, un lien vers le fichier source)"),
                                group);
    m_copyAudio->setObjectName(QStringLiteral("organizeCopyAudio"));
    form->addRow(m_copyAudio);

    auto *modelLabel = new QLabel(QStringLiteral("Modèle Ollama pour l'organisation (vide = celui de la correction)"),
                                  group);
    m_model = new QLineEdit(group);
    m_model->setObjectName(QStringLiteral("organizeModel"));
    modelLabel->setBuddy(m_model);
    form->addRow(modelLabel);
    form->addRow(m_model);
    column->addWidget(group);

    m_runControls = new QVBoxLayout;
    m_runControls->addWidget(new OrganizationRunBox(engine, this));
    column->addLayout(m_runControls);
    column->addStretch(1);

    connect(m_enabled, &QCheckBox::toggled, this, [this](bool on) {
        editSettings(m_engine, [&](ParlivoSettings &s) { s.organizeEnabled = on; });
    });
    connect(m_root, &FolderField::pathEdited, this, [this](const std::optional<QString> &path) {
        editSettings(m_engine, [&](ParlivoSettings &s) { s.organizeRoot = path; });
    });
    connect(m_copyAudio, &QCheckBox::toggled, this, [this](bool on) {
        editSettings(m_engine, [&](ParlivoSettings &s) { s.organizeCopyAudio = on; });
    });
    connect(m_model, &QLineEdit::textEdited, this, [this](const QString &text) {
        editSettings(m_engine, [&](ParlivoSettings &s) { s.organizeModel = text.trimmed(); });
    });
    refresh();
}

void OrganizationPage::refresh() {
    const ParlivoSettings &s = m_engine.settings();
    const QSignalBlocker blockEnabled(m_enabled), blockCopy(m_copyAudio);
    m_enabled->setChecked(s.organizeEnabled);
    m_copyAudio->setChecked(s.organizeCopyAudio);
    m_root->setPath(s.organizeRoot);
    if (m_model->text().trimmed() != s.organizeModel) m_model->setText(s.organizeModel);
}
