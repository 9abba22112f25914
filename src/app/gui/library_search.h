#pragma once
// The search over the memo library: a field, and the hits as a list (date,
// memo, passage with the words found), best first.

#include <QList>
#include <QWidget>

#include "library/library_memo.h"

class QLabel;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;
class Transcriber;

class LibrarySearch : public QWidget {
    Q_OBJECT

public:
    explicit LibrarySearch(Transcriber &engine, QWidget *parent = nullptr);

    // Searches for `words` as if typed in the field.
    void search(const QString &words);

    QLineEdit *field() const { return m_field; }
    QTreeWidget *results() const { return m_results; }
    const QList<SearchHit> &hits() const { return m_hits; }
    QString status() const;

signals:
    void hitOpened(const SearchHit &hit);
    // A search ended and its hits are listed.
    void searched();

private:
    void runSearch();
    void showHits(const QList<SearchHit> &hits, const std::optional<QString> &error);
    void open(QTreeWidgetItem *item);

    Transcriber &m_engine;
    QLineEdit *m_field;
    QTreeWidget *m_results;
    QLabel *m_status;
    QList<SearchHit> m_hits;
    qsizetype m_opened = -1; // a click and a double click open a hit once
    quint64 m_request = 0; // the newest search: an older one's hits are dropped
};
