#include "app/gui/queue_view.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

#include "app/gui/app_actions.h"
#include "app/gui/queue_model.h"

namespace {

// A progress bar in the cell of a file being transcribed; text otherwise.
class ProgressDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override {
        if (FileStatus(index.data(QueueModel::StatusRole).toInt()) != FileStatus::running) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem background = option;
        initStyleOption(&background, index);
        background.text.clear();
        QStyle *style = option.widget ? option.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &background, painter, option.widget);

        // The percentage beside the bar, where a narrow bar cannot hide it.
        const int textWidth = option.fontMetrics.horizontalAdvance(QStringLiteral("100 %")) + 8;
        const QRect cell = option.rect.adjusted(4, 0, -4, 0);
        QStyleOptionProgressBar bar;
        bar.rect = QRect(cell.left(), cell.top() + 4, std::max(10, cell.width() - textWidth), cell.height() - 8);
        bar.minimum = 0;
        bar.maximum = 100;
        bar.progress = int(std::lround(index.data(QueueModel::ProgressRole).toDouble() * 100));
        bar.textVisible = false;
        bar.state = option.state | QStyle::State_Horizontal;
        style->drawControl(QStyle::CE_ProgressBar, &bar, painter, option.widget);
        painter->save();
        painter->setPen(option.palette.color(option.state & QStyle::State_Selected ? QPalette::HighlightedText
                                                                                    : QPalette::Text));
        painter->drawText(cell, Qt::AlignRight | Qt::AlignVCenter, index.data(Qt::DisplayRole).toString());
        painter->restore();
    }
};

} // namespace

QueueView::QueueView(Transcriber &engine, AppActions &actions, QWidget *parent) : QWidget(parent), m_engine(engine) {
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);

    auto *header = new QHBoxLayout;
    m_header = header;
    auto *toggle = new QToolButton(this);
    toggle->setObjectName(QStringLiteral("fileListToggle"));
    toggle->setDefaultAction(actions.toggleFileList);
    toggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toggle->setAutoRaise(true);
    auto syncArrow = [toggle, &actions] {
        toggle->setArrowType(actions.toggleFileList->isChecked() ? Qt::DownArrow : Qt::RightArrow);
    };
    connect(actions.toggleFileList, &QAction::toggled, toggle, syncArrow);
    syncArrow();
    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("fileCount"));
    header->addWidget(toggle);
    header->addWidget(m_title);
    header->addStretch(1);
    header->addWidget(actionButton(actions.retryErrors, this));
    column->addLayout(header);

    m_model = new QueueModel(engine, this);
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("queueTable"));
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setAlternatingRowColors(true);
    m_table->setShowGrid(false);
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideMiddle);
    m_table->setItemDelegateForColumn(QueueModel::ProgressColumn, new ProgressDelegate(m_table));
    m_table->verticalHeader()->hide();
    // Fixed row heights keep a long queue cheap to lay out.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 10);
    QHeaderView *columns = m_table->horizontalHeader();
    columns->setHighlightSections(false);
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    columns->setSectionResizeMode(QueueModel::NameColumn, QHeaderView::Stretch);
    const int charWidth = m_table->fontMetrics().averageCharWidth();
    m_table->setColumnWidth(QueueModel::StatusColumn, charWidth * 16);
    m_table->setColumnWidth(QueueModel::DurationColumn, charWidth * 10);
    m_table->setColumnWidth(QueueModel::ProgressColumn, charWidth * 18);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    column->addWidget(m_table, 1);

    m_menu = new QMenu(this);
    m_transcribe = m_menu->addAction(QStringLiteral("Transcrire la sélection"));
    m_retry = m_menu->addAction(QStringLiteral("Remettre en attente"));
    m_menu->addSeparator();
    m_open = m_menu->addAction(QStringLiteral("Ouvrir la transcription"));
    m_reveal = m_menu->addAction(QStringLiteral("Afficher dans le dossier"));
    connect(m_transcribe, &QAction::triggered, this, [this] { m_engine.transcribeSelection(selectedIds()); });
    connect(m_retry, &QAction::triggered, this, [this] { m_engine.retry(selectedIds()); });
    connect(m_open, &QAction::triggered, this, &QueueView::openTranscript);
    connect(m_reveal, &QAction::triggered, this, &QueueView::revealFile);

    connect(m_table, &QWidget::customContextMenuRequested, this, &QueueView::showContextMenu);
    connect(m_table, &QAbstractItemView::doubleClicked, this, &QueueView::fileDoubleClicked);
    connect(m_model, &QAbstractItemModel::modelReset, this, &QueueView::updateTitle);
    connect(&engine, &Transcriber::runStateChanged, this, &QueueView::updateSelectionActions);
    updateTitle();
    updateSelectionActions();
}

void QueueView::setListVisible(bool visible) {
    m_table->setVisible(visible);
    // Folded, the view is just its header line and the log below takes the room.
    setMaximumHeight(visible ? QWIDGETSIZE_MAX : m_header->sizeHint().height());
}

void QueueView::updateTitle() {
    const int n = m_model->rowCount();
    m_title->setText(n == 0 ? QString() : QStringLiteral("(%1)").arg(n));
}

Transcriber::IdSet QueueView::selectedIds() const {
    Transcriber::IdSet ids;
    for (const QModelIndex &index : m_table->selectionModel()->selectedRows())
        ids.insert(index.data(QueueModel::IdRole).toUuid());
    return ids;
}

const AudioFile *QueueView::currentFile() const {
    const QModelIndex current = m_table->currentIndex();
    if (current.isValid() && m_table->selectionModel()->isRowSelected(current.row(), {}))
        return m_model->fileAt(current.row());
    const auto rows = m_table->selectionModel()->selectedRows();
    return rows.isEmpty() ? nullptr : m_model->fileAt(rows.first().row());
}

void QueueView::updateSelectionActions() {
    bool anyIdle = false;
    for (const QModelIndex &index : m_table->selectionModel()->selectedRows())
        anyIdle = anyIdle || FileStatus(index.data(QueueModel::StatusRole).toInt()) != FileStatus::running;
    // Running entries are left alone by both actions; the recogniser is needed to transcribe.
    m_transcribe->setEnabled(anyIdle && m_engine.toolsReady());
    m_retry->setEnabled(anyIdle);
    const AudioFile *file = currentFile();
    m_open->setEnabled(file && file->outputPath && QFileInfo::exists(*file->outputPath));
    m_reveal->setEnabled(file != nullptr);
}

void QueueView::showContextMenu(const QPoint &position) {
    if (!m_table->indexAt(position).isValid()) return;
    updateSelectionActions();
    m_menu->popup(m_table->viewport()->mapToGlobal(position));
}

void QueueView::openTranscript() {
    const AudioFile *file = currentFile();
    if (file && file->outputPath && QFileInfo::exists(*file->outputPath))
        m_engine.openUrl(QUrl::fromLocalFile(*file->outputPath));
}

void QueueView::fileDoubleClicked() {
    const AudioFile *file = currentFile();
    // A done file opens in the reader; another one's transcript, when it has one, opens outside.
    if (file && file->status == FileStatus::done && file->outputPath && QFileInfo::exists(*file->outputPath))
        emit readerRequested(*file->outputPath);
    else
        openTranscript();
}

void QueueView::revealFile() {
    // File managers reached through a URL open folders, not a selection in them.
    if (const AudioFile *file = currentFile())
        m_engine.openUrl(QUrl::fromLocalFile(QFileInfo(file->path()).absolutePath()));
}
