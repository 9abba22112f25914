#pragma once
// The queue as a table. Rows are the engine's entries, read in place; one
// entry's change repaints one row, and only a replaced queue resets the model.

#include <QAbstractTableModel>
#include <QColor>
#include <QHash>
#include <QIcon>
#include <QUuid>

#include <array>

#include "core/records.h"

class Transcriber;

class QueueModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { StatusColumn, NameColumn, DurationColumn, ProgressColumn, ColumnCount };
    enum Role {
        IdRole = Qt::UserRole + 1, // the entry's QUuid
        StatusRole,                // FileStatus as int
        ProgressRole,              // 0..1
    };

    explicit QueueModel(Transcriber &engine, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The row of an entry, -1 when it is not in the queue.
    int rowOf(const QUuid &id) const { return m_rows.value(id, -1); }
    const AudioFile *fileAt(int row) const;

private:
    void reload();
    void entryChanged(const QUuid &id);
    QVariant statusData(const AudioFile &file, int role) const;

    Transcriber &m_engine;
    // The row count the views know: the engine's list may already have been
    // replaced while its queueChanged is still on its way.
    int m_rowCount = 0;
    QHash<QUuid, int> m_rows;
    QColor m_muted;
    std::array<QIcon, fileStatusCount> m_icons; // drawn once: rows repaint often
};
