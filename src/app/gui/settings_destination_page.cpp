#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/gui/settings_pages.h"
#include "app/gui/settings_support.h"
#include "engine/transcriber.h"

DestinationPage::DestinationPage(Transcriber &engine, QWidget *parent) : QWidget(parent), m_engine(engine) {
    auto *column = new QVBoxLayout(this);
    auto *group = new QGroupBox(QStringLiteral("Fichiers écrits"), this);
    auto *form = makeForm(group);

    m_format = new QComboBox(group);
    m_format->setObjectName(QStringLiteral("outputFormat"));
    for (OutputFormat format : allCases<OutputFormat>()) m_format->addItem(label(format), rawValue(format));
    form->addRow(QStringLiteral("Format :"), m_format);

    m_subtitles = new QComboBox(group);
    m_subtitles->setObjectName(QStringLiteral("subtitleFormat"));
    for (SubtitleFormat format : allCases<SubtitleFormat>()) m_subtitles->addItem(label(format), rawValue(format));
    m_subtitles->setToolTip(QStringLiteral("Écrits à côté de chaque transcription, avec les temps de chaque phrase. "
                                           "Les vocaux déjà transcrits n'en reçoivent qu'en les retranscrivant."));
    form->addRow(QStringLiteral("Sous-titres :"), m_subtitles);

    m_mode = new QButtonGroup(group);
    auto *modes = new QVBoxLayout;
    for (DestinationMode mode : allCases<DestinationMode>()) {
        auto *button = new QRadioButton(label(mode), group);
        button->setObjectName(rawValue(mode));
        m_mode->addButton(button, int(mode));
        modes->addWidget(button);
    }
    form->addRow(QStringLiteral("Emplacement :"), modes);

    m_folder = new FolderField(QStringLiteral("Dossier de sortie des transcriptions"), group);
    m_folder->setObjectName(QStringLiteral("customDestination"));
    m_folder->edit()->setPlaceholderText(QStringLiteral("Aucun dossier choisi"));
    form->addRow(QStringLiteral("Dossier de sortie :"), m_folder);

    m_summary = new QLabel(group);
    m_summary->setObjectName(QStringLiteral("destinationSummary"));
    m_summary->setWordWrap(true);
    m_summary->setStyleSheet(QStringLiteral("color: palette(placeholder-text);"));
    form->addRow(m_summary);
    column->addWidget(group);
    column->addStretch(1);

    connect(m_format, &QComboBox::activated, this, [this](int index) {
        const auto format = fromRaw<OutputFormat>(m_format->itemData(index).toString());
        if (format) editSettings(m_engine, [&](ParlivoSettings &s) { s.outputFormat = *format; });
    });
    connect(m_subtitles, &QComboBox::activated, this, [this](int index) {
        const auto format = fromRaw<SubtitleFormat>(m_subtitles->itemData(index).toString());
        if (format) editSettings(m_engine, [&](ParlivoSettings &s) { s.subtitleFormat = *format; });
    });
    connect(m_mode, &QButtonGroup::idClicked, this, [this](int id) {
        editSettings(m_engine, [&](ParlivoSettings &s) { s.destinationMode = DestinationMode(id); });
    });
    connect(m_folder, &FolderField::pathEdited, this, [this](const std::optional<QString> &path) {
        editSettings(m_engine, [&](ParlivoSettings &s) { s.customDestination = path; });
    });
    refresh();
}

void DestinationPage::refresh() {
    const ParlivoSettings &s = m_engine.settings();
    {
        const QSignalBlocker block(m_format);
        m_format->setCurrentIndex(m_format->findData(rawValue(s.outputFormat)));
    }
    {
        const QSignalBlocker block(m_subtitles);
        m_subtitles->setCurrentIndex(m_subtitles->findData(rawValue(s.subtitleFormat)));
    }
    if (QAbstractButton *button = m_mode->button(int(s.destinationMode))) button->setChecked(true);
    m_folder->setPath(s.customDestination);
    m_folder->setEnabled(s.destinationMode == DestinationMode::custom);
    m_summary->setText(m_engine.outputLocationDescription());
}
