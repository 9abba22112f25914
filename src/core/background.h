#pragma once
// Work that would stall the window (disk flushes, folder walks) runs on Qt's
// thread pool; the awaiting coroutine resumes on the main thread with the
// result. `work` must touch nothing the main thread changes meanwhile: hand it
// copies.

#include <QFuture>
#include <QFutureWatcher>
#include <QPromise>
#include <QThreadPool>

#include <memory>
#include <type_traits>

#include <qcoro/qcorotask.h>

#include "core/next_emission.h"

template <typename Result> QCoro::Task<Result> awaitFuture(QFuture<Result> future) {
    // A watcher and its signal, rather than co_await on the future itself:
    // GCC 12 may destroy a braced temporary awaiter twice.
    QFutureWatcher<Result> watcher;
    watcher.setFuture(future);
    if (!future.isFinished()) co_await nextEmission(&watcher, &QFutureWatcherBase::finished);
    co_return future.result();
}

template <typename Work> auto onWorkerThread(Work work) -> QCoro::Task<std::invoke_result_t<Work>> {
    using Result = std::invoke_result_t<Work>;
    auto promise = std::make_shared<QPromise<Result>>();
    QFuture<Result> future = promise->future();
    promise->start();
    QThreadPool::globalInstance()->start([promise, work]() mutable {
        promise->addResult(work());
        promise->finish();
    });
    return awaitFuture(future);
}
