#pragma once
// A language-model client call run to its end, with either its result or the
// CorrectionError it threw.

#include <optional>

#include "correction/correction_error.h"
#include "support/test_support.h"

namespace testing_support {

template <typename T> struct Outcome {
    std::optional<T> value;
    std::optional<CorrectionError> error;
};

template <typename T> Outcome<T> runCall(QCoro::Task<T> task, int timeoutMs = 20000) {
    Outcome<T> outcome;
    auto wrapper = [](QCoro::Task<T> t, Outcome<T> &out) -> QCoro::Task<> {
        try {
            out.value = co_await std::move(t);
        } catch (const CorrectionError &e) {
            out.error = e;
        }
    };
    runTask(wrapper(std::move(task), outcome), timeoutMs);
    return outcome;
}

} // namespace testing_support
