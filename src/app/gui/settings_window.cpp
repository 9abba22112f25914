#include "app/gui/settings_window.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/gui/app_icon.h"
#include "app/gui/settings_pages.h"
#include "engine/transcriber.h"

namespace {
// Pages scroll rather than force a tall window on a small screen.
QScrollArea *scrolling(QWidget *page) {
    auto *area = new QScrollArea;
    area->setWidget(page);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return area;
}
} // namespace

SettingsWindow::SettingsWindow(Transcriber &engine, QWidget *parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("Réglages de Parlivo"));
    setWindowIcon(appIcon());
    setObjectName(QStringLiteral("settingsWindow"));

    m_transcription = new TranscriptionPage(engine);
    m_destination = new DestinationPage(engine);
    m_correction = new CorrectionPage(engine);
    m_organization = new OrganizationPage(engine);
    m_models = new ModelsPage(engine);

    m_tabs = new QTabWidget(this);
    m_tabs->addTab(scrolling(m_transcription), QStringLiteral("Transcription"));
    m_tabs->addTab(scrolling(m_destination), QStringLiteral("Destination"));
    m_tabs->addTab(scrolling(m_correction), QStringLiteral("Correction"));
    m_tabs->addTab(scrolling(m_organization), QStringLiteral("Organisation"));
    const int modelsTab = m_tabs->addTab(scrolling(m_models), QStringLiteral("Modèles"));

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("Fermer"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QWidget::close);
    new QShortcut(QKeySequence::Cancel, this, this, &QWidget::close);

    auto *column = new QVBoxLayout(this);
    column->addWidget(m_tabs, 1);
    column->addWidget(buttons);

    connect(m_transcription, &TranscriptionPage::manageModelsRequested, this,
            [this, modelsTab] { m_tabs->setCurrentIndex(modelsTab); });
    connect(&engine, &Transcriber::settingsChanged, this, &SettingsWindow::refresh);
    resize(640, 620);
}

void SettingsWindow::refresh() {
    m_transcription->refresh();
    m_destination->refresh();
    m_correction->refresh();
    m_organization->refresh();
    m_models->refresh();
}
