#include "app/gui/library_search.h"

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/gui/wrapped_rows.h"
#include "engine/transcriber.h"
#include "library/library_memo.h"
#include "library/search_query.h"

namespace {
QString dateText(const std::optional<QDateTime> &date) {
    return date ? date->toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm")) : QStringLiteral("—");
}

QString memoName(const SearchHit &hit) {
    return QFileInfo(hit.audioPath.isEmpty() ? hit.transcriptPath : hit.audioPath).completeBaseName();
}

QString countText(qsizetype n) {
    if (n == 0) return QStringLiteral("Aucun vocal ne contient ces mots.");
    return n == 1 ? QStringLiteral("1 résultat") : QStringLiteral("%1 résultats").arg(n);
}
} // namespace

LibrarySearch::LibrarySearch(Transcriber &engine, QWidget *parent) : QWidget(parent), m_engine(engine) {
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    m_field = new QLineEdit(this);
    m_field->setObjectName(QStringLiteral("librarySearch"));
    m_field->setPlaceholderText(QStringLiteral("Rechercher dans les vocaux"));
    m_field->setClearButtonEnabled(true);
    m_results = new QTreeWidget(this);
    m_results->setObjectName(QStringLiteral("libraryResults"));
    m_results->setHeaderLabels({QStringLiteral("Date"), QStringLiteral("Mémo"), QStringLiteral("Passage")});
    m_results->setRootIsDecorated(false);
    m_results->setAlternatingRowColors(true);
    wrapRows(m_results);
    m_results->setColumnWidth(0, m_results->fontMetrics().horizontalAdvance(QStringLiteral("00/00/0000 00:00")) + 16);
    m_results->setColumnWidth(1, m_results->fontMetrics().averageCharWidth() * 22);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("librarySearchStatus"));
    column->addWidget(m_field);
    column->addWidget(m_results, 1);
    column->addWidget(m_status);

    connect(m_field, &QLineEdit::returnPressed, this, &LibrarySearch::runSearch);
    connect(m_results, &QTreeWidget::itemClicked, this, &LibrarySearch::open);
    connect(m_results, &QTreeWidget::itemActivated, this, &LibrarySearch::open);
}

QString LibrarySearch::status() const { return m_status->text(); }

void LibrarySearch::search(const QString &words) {
    m_field->setText(words);
    runSearch();
}

void LibrarySearch::runSearch() {
    const SearchQuery query = parseSearchQuery(m_field->text());
    const quint64 request = ++m_request;
    if (query.isEmpty()) {
        showHits({}, std::nullopt);
        m_status->clear();
        return;
    }
    m_status->setText(QStringLiteral("Recherche…"));
    [](QPointer<LibrarySearch> self, QCoro::Task<LibraryFound> searching, quint64 request) -> QCoro::Task<> {
        const LibraryFound found = co_await std::move(searching);
        if (!self || request != self->m_request) co_return;
        self->showHits(found.hits, found.error);
    }(this, m_engine.searchLibrary(query), request);
}

void LibrarySearch::showHits(const QList<SearchHit> &hits, const std::optional<QString> &error) {
    m_hits = hits;
    m_opened = -1;
    m_results->clear();
    QList<QTreeWidgetItem *> items;
    for (qsizetype i = 0; i < hits.size(); ++i) {
        auto *item = new QTreeWidgetItem({dateText(hits[i].date), memoName(hits[i]), hits[i].passage.marked()});
        item->setData(0, Qt::UserRole, qlonglong(i));
        item->setToolTip(1, hits[i].transcriptPath);
        items.append(item);
    }
    m_results->addTopLevelItems(items);
    m_status->setText(error ? *error : countText(hits.size()));
    emit searched();
}

void LibrarySearch::open(QTreeWidgetItem *item) {
    const qsizetype index = item->data(0, Qt::UserRole).toLongLong();
    if (index < 0 || index >= m_hits.size() || index == m_opened) return;
    m_opened = index;
    emit hitOpened(m_hits[index]);
}
