// Waiting for a signal in a coroutine: a signal emitted twice before the
// waiter runs must wake it once, and never wake a later wait.
#include <gtest/gtest.h>

#include <QObject>

#include "core/next_emission.h"
#include "support/test_support.h"

using namespace testing_support;

TEST(NextEmission, TwoEmissionsBeforeTheWaiterRunsWakeItOnceNotTheWaitAfterAndAGoneSourceIsNotWaitedFor) {
    QObject source;
    int wakes = 0;
    auto waitTwice = [&]() -> QCoro::Task<> {
        co_await nextEmission(&source, &QObject::objectNameChanged);
        ++wakes;
        co_await nextEmission(&source, &QObject::objectNameChanged);
        ++wakes;
    };
    QCoro::Task<> waiting = waitTwice();
    // Both before the event loop runs, as two servers freed in one instant.
    source.setObjectName(QStringLiteral("un"));
    source.setObjectName(QStringLiteral("deux"));
    spin(50);
    EXPECT_EQ(wakes, 1);
    source.setObjectName(QStringLiteral("trois"));
    spin(50);
    EXPECT_EQ(wakes, 2);

    // A source already gone is not waited for.
    auto owner = std::make_unique<QObject>();
    QPointer<QObject> gone(owner.get());
    owner.reset();
    bool done = false;
    auto waitGone = [&]() -> QCoro::Task<> {
        co_await nextEmission(gone.data(), &QObject::objectNameChanged);
        done = true;
    };
    QCoro::Task<> notWaiting = waitGone();
    EXPECT_TRUE(done);
}
