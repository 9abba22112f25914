#include "app/gui/queue_model.h"

#include <QApplication>
#include <QPalette>

#include "app/gui/display_texts.h"
#include "app/gui/status_icons.h"
#include "engine/transcriber.h"

QueueModel::QueueModel(Transcriber &engine, QObject *parent) : QAbstractTableModel(parent), m_engine(engine) {
    // Pending rows read as quiet, not as disabled.
    const QPalette palette = QApplication::palette();
    const QColor text = palette.color(QPalette::Text), base = palette.color(QPalette::Base);
    m_muted = QColor((text.red() * 11 + base.red() * 9) / 20, (text.green() * 11 + base.green() * 9) / 20,
                     (text.blue() * 11 + base.blue() * 9) / 20);
    for (FileStatus status : allCases<FileStatus>())
        m_icons[size_t(status)] = statusIcon(status, statusColor(status, m_muted));
    connect(&engine, &Transcriber::queueChanged, this, &QueueModel::reload);
    connect(&engine, &Transcriber::entryChanged, this, &QueueModel::entryChanged);
    reload();
}

void QueueModel::reload() {
    beginResetModel();
    m_rows.clear();
    const auto &files = m_engine.files();
    m_rowCount = int(files.size());
    m_rows.reserve(m_rowCount);
    for (int i = 0; i < m_rowCount; ++i) m_rows.insert(files[i].id, i);
    endResetModel();
}

void QueueModel::entryChanged(const QUuid &id) {
    const int row = rowOf(id);
    if (row < 0) return;
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

const AudioFile *QueueModel::fileAt(int row) const {
    const auto &files = m_engine.files();
    if (row < 0 || row >= m_rowCount || row >= files.size()) return nullptr;
    return &files[row];
}

int QueueModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : m_rowCount; }

int QueueModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant QueueModel::statusData(const AudioFile &file, int role) const {
    switch (role) {
    case Qt::DisplayRole: return label(file.status);
    case Qt::DecorationRole: return m_icons[size_t(file.status)];
    case Qt::ForegroundRole: return statusColor(file.status, m_muted);
    default: return {};
    }
}

QVariant QueueModel::data(const QModelIndex &index, int role) const {
    const AudioFile *file = fileAt(index.row());
    if (!file) return {};
    switch (role) {
    case IdRole: return file->id;
    case StatusRole: return int(file->status);
    case ProgressRole: return file->progress;
    case Qt::ToolTipRole:
        // The failure is what the user wants to know; otherwise where the file is.
        return file->errorMessage.value_or(file->path());
    default: break;
    }
    switch (index.column()) {
    case StatusColumn: return statusData(*file, role);
    case NameColumn:
        if (role == Qt::DisplayRole) return file->fileName();
        break;
    case DurationColumn:
        if (role == Qt::DisplayRole) return file->durationDisplay();
        if (role == Qt::TextAlignmentRole) return int(Qt::AlignRight | Qt::AlignVCenter);
        break;
    case ProgressColumn:
        if (role == Qt::DisplayRole) {
            if (file->status == FileStatus::running) return percentText(file->progress);
            if (file->status == FileStatus::done) return percentText(1);
            return QString();
        }
        if (role == Qt::TextAlignmentRole) return int(Qt::AlignRight | Qt::AlignVCenter);
        break;
    default: break;
    }
    return {};
}

QVariant QueueModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::TextAlignmentRole && (section == DurationColumn || section == ProgressColumn))
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole) return {};
    switch (section) {
    case StatusColumn: return QStringLiteral("État");
    case NameColumn: return QStringLiteral("Fichier");
    case DurationColumn: return QStringLiteral("Durée");
    case ProgressColumn: return QStringLiteral("Progression");
    default: return {};
    }
}
