#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/gui/settings_ai_runs.h"
#include "app/gui/settings_pages.h"
#include "app/gui/settings_support.h"
#include "engine/transcriber.h"

namespace {
QLineEdit *lineEdit(const char *name, QWidget *parent) {
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    return edit;
}
} // namespace

CorrectionPage::CorrectionPage(Transcriber &engine, QWidget *parent) : QWidget(parent), m_engine(engine) {
    auto *column = new QVBoxLayout(this);

    auto *general = new QGroupBox(QStringLiteral("Correction par un modèle de langage"), this);
    auto *generalForm = makeForm(general);
    m_enabled = new QCheckBox(QStringLiteral("Corriger chaque transcription après la reconnaissance"), general);
    m_enabled->setObjectName(QStringLiteral("correctionEnabled"));
    generalForm->addRow(m_enabled);
    m_backend = new QComboBox(general);
    m_backend->setObjectName(QStringLiteral("correctionBackend"));
    for (CorrectionBackend backend : allCases<CorrectionBackend>())
        m_backend->addItem(label(backend), rawValue(backend));
    generalForm->addRow(QStringLiteral("Service :"), m_backend);
    m_keepRaw = new QCheckBox(QStringLiteral("Garder le texte brut dans une section à part du fichier .md"), general);
    m_keepRaw->setObjectName(QStringLiteral("keepRawTranscript"));
    generalForm->addRow(m_keepRaw);
    column->addWidget(general);

    auto *ollama = new QGroupBox(label(CorrectionBackend::ollama), this);
    auto *ollamaColumn = new QVBoxLayout(ollama);
    auto *ollamaForm = makeForm(nullptr);
    m_ollamaEndpoint = lineEdit("ollamaEndpoint", ollama);
    ollamaForm->addRow(QStringLiteral("Adresse du serveur :"), m_ollamaEndpoint);
    m_ollamaModel = lineEdit("ollamaModel", ollama);
    ollamaForm->addRow(QStringLiteral("Modèle :"), m_ollamaModel);
    ollamaColumn->addLayout(ollamaForm);
    m_ollamaExtras = new QVBoxLayout;
    m_ollamaExtras->addWidget(new OllamaInstallBox(engine, ollama));
    ollamaColumn->addLayout(m_ollamaExtras);
    column->addWidget(ollama);

    auto *anthropic = new QGroupBox(label(CorrectionBackend::anthropic), this);
    auto *anthropicForm = makeForm(anthropic);
    m_anthropicModel = lineEdit("anthropicModel", anthropic);
    anthropicForm->addRow(QStringLiteral("Modèle :"), m_anthropicModel);
    m_anthropicKey = lineEdit("anthropicKey", anthropic);
    m_anthropicKey->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    m_anthropicKey->setPlaceholderText(QStringLiteral("Aucune clé"));
    anthropicForm->addRow(QStringLiteral("Clé API :"), m_anthropicKey);
    column->addWidget(anthropic);

    auto *promptGroup = new QGroupBox(QStringLiteral("Instruction de correction"), this);
    auto *promptColumn = new QVBoxLayout(promptGroup);
    m_prompt = new QPlainTextEdit(promptGroup);
    m_prompt->setObjectName(QStringLiteral("correctionPrompt"));
    m_prompt->setMinimumHeight(120);
    promptColumn->addWidget(m_prompt, 1);
    m_resetPrompt = new QPushButton(QStringLiteral("Rétablir l'instruction par défaut"), promptGroup);
    m_resetPrompt->setObjectName(QStringLiteral("resetPrompt"));
    promptColumn->addWidget(m_resetPrompt, 0, Qt::AlignRight);
    column->addWidget(promptGroup, 1);
    alignFormLabels({generalForm, ollamaForm, anthropicForm});

    connect(m_enabled, &QCheckBox::toggled, this, [this](bool on) {
        editSettings(m_engine, [&](ParlivoSettings &s) { s.correctionEnabled = on; });
    });
    connect(m_backend, &QComboBox::activated, this, [this](int index) {
        const auto backend = fromRaw<CorrectionBackend>(m_backend->itemData(index).toString());
        if (backend) editSettings(m_engine, [&](ParlivoSettings &s) { s.correctionBackend = *backend; });
    });
    connect(m_keepRaw, &QCheckBox::toggled, this, [this](bool on) {
        editSettings(m_engine, [&](ParlivoSettings &s) { s.keepRawTranscript = on; });
    });
    connect(m_ollamaEndpoint, &QLineEdit::textEdited, this, [this](const QString &text) {
        editSettings(m_engine, [&](ParlivoSettings &s) { s.ollamaEndpoint = text.trimmed(); });
    });
    connect(m_ollamaModel, &QLineEdit::textEdited, this, [this](const QString &text) {
        editSettings(m_engine, [&](ParlivoSettings &s) { s.ollamaModel = text.trimmed(); });
    });
    connect(m_anthropicModel, &QLineEdit::textEdited, this, [this](const QString &text) {
        editSettings(m_engine, [&](ParlivoSettings &s) { s.anthropicModel = text.trimmed(); });
    });
    connect(m_anthropicKey, &QLineEdit::textEdited, this, [this](const QString &text) {
        editSettings(m_engine, [&](ParlivoSettings &s) { s.anthropicKey = text.trimmed(); });
    });
    connect(m_prompt, &QPlainTextEdit::textChanged, this, [this] {
        const QString text = m_prompt->toPlainText();
        editSettings(m_engine, [&](ParlivoSettings &s) { s.correctionPrompt = text; });
    });
    connect(m_resetPrompt, &QPushButton::clicked, this, [this] {
        editSettings(m_engine,
                     [](ParlivoSettings &s) { s.correctionPrompt = ParlivoSettings::defaultCorrectionPrompt; });
    });
    refresh();
}

void CorrectionPage::refresh() {
    const ParlivoSettings &s = m_engine.settings();
    const QSignalBlocker blockEnabled(m_enabled), blockBackend(m_backend), blockRaw(m_keepRaw);
    m_enabled->setChecked(s.correctionEnabled);
    m_backend->setCurrentIndex(m_backend->findData(rawValue(s.correctionBackend)));
    m_keepRaw->setChecked(s.keepRawTranscript);
    // Typed fields hold untrimmed text while the setting holds it trimmed.
    if (m_ollamaEndpoint->text().trimmed() != s.ollamaEndpoint) m_ollamaEndpoint->setText(s.ollamaEndpoint);
    if (m_ollamaModel->text().trimmed() != s.ollamaModel) m_ollamaModel->setText(s.ollamaModel);
    if (m_anthropicModel->text().trimmed() != s.anthropicModel) m_anthropicModel->setText(s.anthropicModel);
    if (m_anthropicKey->text().trimmed() != s.anthropicKey) m_anthropicKey->setText(s.anthropicKey);
    if (m_prompt->toPlainText() != s.correctionPrompt) {
        const QSignalBlocker blockPrompt(m_prompt);
        m_prompt->setPlainText(s.correctionPrompt);
    }
    m_resetPrompt->setEnabled(s.correctionPrompt != ParlivoSettings::defaultCorrectionPrompt);
}
