#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cmath>

#include "app/gui/display_texts.h"
#include "app/gui/settings_pages.h"
#include "app/gui/settings_support.h"
#include "core/folders.h"
#include "engine/transcriber.h"
#include "provisioning/model_catalog.h"

namespace {
enum LocalColumn { NameColumn, SizeColumn };
const int pathRole = Qt::UserRole + 1;
} // namespace

ModelsPage::ModelsPage(Transcriber &engine, QWidget *parent) : QWidget(parent), m_engine(engine) {
    auto *column = new QVBoxLayout(this);

    auto *localGroup = new QGroupBox(QStringLiteral("Modèles sur cette machine"), this);
    auto *localColumn = new QVBoxLayout(localGroup);
    auto *where = new QLabel(QStringLiteral("Dossier des modèles : ") + QDir::toNativeSeparators(folders::hestiaDir()),
                             localGroup);
    where->setTextInteractionFlags(Qt::TextSelectableByMouse);
    where->setStyleSheet(QStringLiteral("color: palette(placeholder-text);"));
    localColumn->addWidget(where);
    m_local = new QTreeWidget(localGroup);
    m_local->setObjectName(QStringLiteral("localModels"));
    m_local->setRootIsDecorated(false);
    m_local->setHeaderLabels({QStringLiteral("Nom"), QStringLiteral("Taille")});
    m_local->header()->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    m_local->header()->setSectionResizeMode(SizeColumn, QHeaderView::ResizeToContents);
    m_local->header()->setStretchLastSection(false);
    m_local->setMinimumHeight(110);
    localColumn->addWidget(m_local, 1);
    m_use = new QPushButton(QStringLiteral("Utiliser ce modèle"), localGroup);
    m_use->setObjectName(QStringLiteral("useModel"));
    auto *other = new QPushButton(QStringLiteral("Autre fichier…"), localGroup);
    auto *rescan = new QPushButton(QStringLiteral("Actualiser"), localGroup);
    localColumn->addWidget(buttonRow({m_use, other, rescan}, localGroup));
    column->addWidget(localGroup, 1);

    auto *downloadGroup = new QGroupBox(QStringLiteral("Télécharger un modèle"), this);
    auto *downloadForm = makeForm(downloadGroup);
    m_catalogue = new QComboBox(downloadGroup);
    m_catalogue->setObjectName(QStringLiteral("catalogue"));
    // The labels are long: the list opens wide, the field follows the window.
    m_catalogue->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_catalogue->setMinimumContentsLength(24);
    m_catalogue->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_download = new QPushButton(QStringLiteral("Télécharger"), downloadGroup);
    m_download->setObjectName(QStringLiteral("downloadModel"));
    auto *choice = new QHBoxLayout;
    choice->addWidget(m_catalogue, 1);
    choice->addWidget(m_download);
    downloadForm->addRow(QStringLiteral("Modèle :"), choice);
    m_progress = new QProgressBar(downloadGroup);
    m_progress->setObjectName(QStringLiteral("downloadProgress"));
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(true);
    downloadForm->addRow(m_progress);
    m_status = new QLabel(downloadGroup);
    m_status->setObjectName(QStringLiteral("downloadStatus"));
    m_status->setWordWrap(true);
    downloadForm->addRow(m_status);
    column->addWidget(downloadGroup);

    connect(m_use, &QPushButton::clicked, this, [this] {
        const QTreeWidgetItem *item = m_local->currentItem();
        if (!item) return;
        const QString path = item->data(NameColumn, pathRole).toString();
        editSettings(m_engine, [&](ParlivoSettings &s) { s.modelPath = path; });
    });
    connect(m_local, &QTreeWidget::itemDoubleClicked, m_use, &QPushButton::click);
    connect(m_local, &QTreeWidget::currentItemChanged, this, [this] { m_use->setEnabled(m_local->currentItem()); });
    connect(other, &QPushButton::clicked, this, &ModelsPage::chooseFile);
    connect(rescan, &QPushButton::clicked, this, [this] { m_engine.refreshModels(); });
    connect(m_download, &QPushButton::clicked, this, &ModelsPage::startDownload);
    connect(&m_downloader, &Downloader::progressChanged, this, &ModelsPage::refreshDownload);
    connect(&m_downloader, &Downloader::isDownloadingChanged, this, &ModelsPage::refreshDownload);
    connect(&m_downloader, &Downloader::statusTextChanged, this, &ModelsPage::refreshDownload);
    connect(&engine, &Transcriber::modelsChanged, this, &ModelsPage::refresh);
    refresh();
}

void ModelsPage::refresh() {
    refreshLocal();
    refreshCatalogue();
    refreshDownload();
}

void ModelsPage::refreshLocal() {
    const QString selected = m_local->currentItem() ? m_local->currentItem()->data(NameColumn, pathRole).toString()
                                                    : m_engine.settings().modelPath;
    m_local->clear();
    for (const ModelInfo &model : m_engine.availableModels()) {
        const bool inUse = model.path == m_engine.settings().modelPath;
        auto *item = new QTreeWidgetItem(m_local, {inUse ? QStringLiteral("%1 (utilisé)").arg(model.name) : model.name,
                                                   sizeText(model.sizeBytes)});
        item->setData(NameColumn, pathRole, model.path);
        item->setToolTip(NameColumn, model.path);
        item->setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
        if (inUse) {
            QFont bold = item->font(NameColumn);
            bold.setBold(true);
            item->setFont(NameColumn, bold);
        }
        if (model.path == selected) m_local->setCurrentItem(item);
    }
    m_use->setEnabled(m_local->currentItem());
}

void ModelsPage::refreshCatalogue() {
    const int previous = m_catalogue->currentIndex();
    m_catalogue->clear();
    for (const DownloadableModel &entry : DownloadableModel::catalog()) {
        const bool present = QFileInfo::exists(folders::hestiaDir() + QLatin1Char('/') + entry.filename);
        m_catalogue->addItem(present ? QStringLiteral("%1 — déjà téléchargé").arg(entry.label) : entry.label,
                             entry.filename);
    }
    m_catalogue->setCurrentIndex(previous >= 0 ? previous : 0);
}

void ModelsPage::refreshDownload() {
    const bool downloading = m_downloader.isDownloading();
    m_download->setEnabled(!downloading);
    m_catalogue->setEnabled(!downloading);
    m_progress->setVisible(downloading || m_downloader.progress() > 0);
    const double progress = std::clamp(m_downloader.progress(), 0.0, 1.0);
    m_progress->setValue(int(std::lround(progress * 1000)));
    m_progress->setFormat(percentText(progress));
    m_status->setText(m_downloader.statusText());
    m_status->setVisible(!m_downloader.statusText().isEmpty());
}

void ModelsPage::startDownload() {
    const QString filename = m_catalogue->currentData().toString();
    if (filename.isEmpty() || m_downloader.isDownloading()) return;
    const QString destination = folders::hestiaDir() + QLatin1Char('/') + filename;
    m_downloader.start(modelDownloadUrl(filename), destination, [this, destination](std::optional<QString> error) {
        if (error) return; // the status text says why
        // The first model on the machine is the one to use; otherwise the choice stays the user's.
        if (!m_engine.modelAvailable()) editSettings(m_engine, [&](ParlivoSettings &s) { s.modelPath = destination; });
        m_engine.refreshModels();
    });
}

void ModelsPage::chooseFile() {
    auto *dialog = new QFileDialog(window(), QStringLiteral("Choisir un modèle whisper"));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilter(QStringLiteral("Modèles whisper (*.bin *.BIN)"));
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Utiliser ce modèle"));
    dialog->setDirectory(QFileInfo::exists(folders::hestiaDir()) ? folders::hestiaDir() : QDir::homePath());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString &path) {
        editSettings(m_engine, [&](ParlivoSettings &s) { s.modelPath = path; });
        m_engine.refreshModels();
    });
    dialog->open();
}
