#include "app/gui/library_window.h"

#include <QHBoxLayout>
#include <QPointer>
#include <QSplitter>

#include "app/gui/app_icon.h"
#include "app/gui/library_search.h"
#include "app/gui/memo_reader.h"
#include "engine/transcriber.h"

LibraryWindow::LibraryWindow(Transcriber &engine, QWidget *parent) : QWidget(parent, Qt::Window), m_engine(engine) {
    setWindowTitle(QStringLiteral("Bibliothèque des vocaux"));
    setWindowIcon(appIcon());
    auto *row = new QHBoxLayout(this);
    auto *split = new QSplitter(Qt::Horizontal, this);
    split->setChildrenCollapsible(false);
    m_search = new LibrarySearch(engine, split);
    m_reader = new MemoReader(split);
    split->addWidget(m_search);
    split->addWidget(m_reader);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);
    split->setSizes({520, 580});
    row->addWidget(split);
    connect(m_search, &LibrarySearch::hitOpened, this, &LibraryWindow::openHit);
    resize(1100, 680);
}

void LibraryWindow::openHit(const SearchHit &hit) { open(hit.transcriptPath, hit); }

void LibraryWindow::openTranscript(const QString &transcriptPath) { open(transcriptPath, std::nullopt); }

void LibraryWindow::open(const QString &transcriptPath, const std::optional<SearchHit> &hit) {
    const quint64 request = ++m_request;
    [](QPointer<LibraryWindow> self, QCoro::Task<std::optional<LibraryMemo>> reading, std::optional<SearchHit> hit,
       quint64 request) -> QCoro::Task<> {
        const std::optional<LibraryMemo> memo = co_await std::move(reading);
        if (!self || request != self->m_request) co_return;
        if (memo)
            self->m_reader->showMemo(*memo, hit);
        else
            self->m_reader->showNothing(QStringLiteral("Cette transcription n'est plus lisible : le fichier a été "
                                                       "déplacé ou supprimé."));
        emit self->memoShown();
    }(this, m_engine.libraryMemo(transcriptPath), hit, request);
}
