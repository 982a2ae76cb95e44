// The timed wait: its length in milliseconds, and CTRL+C cutting it short.
#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "platform.h"
#include "run.h"

namespace {

TEST(WaitMilliseconds, NeverWrapsAndNeverReachesInfinite) {
    EXPECT_EQ(waitMilliseconds(0), 0u);
    EXPECT_EQ(waitMilliseconds(5), 5000u);
    EXPECT_EQ(waitMilliseconds(4294967), 4294967000u);
    EXPECT_EQ(waitMilliseconds(4294968), 4294967294u);  // 1000 times it would wrap to a short wait
    EXPECT_EQ(waitMilliseconds(0xFFFFFFFFu), 4294967294u);  // what "-1" reads as
}

bool interruptIsCaught() {
    struct sigaction current {};
    sigaction(SIGINT, nullptr, &current);
    return current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN;
}

TEST(WaitForMilliseconds, InterruptEndsTheWaitAndRestoresDefaultHandling) {
    signal(SIGINT, SIG_DFL);  // whatever ran the tests may have ignored it
    ASSERT_FALSE(interruptIsCaught());
    // Another thread takes the signal, as a library thread may.
    std::thread interrupter([] {
        while (!interruptIsCaught()) std::this_thread::yield();
        kill(getpid(), SIGINT);
    });
    waitForMilliseconds(4294967294u);
    interrupter.join();
    EXPECT_FALSE(interruptIsCaught());
}

TEST(WaitForMilliseconds, AnIgnoredInterruptStaysIgnored) {
    signal(SIGINT, SIG_IGN);
    waitForMilliseconds(1);
    struct sigaction current {};
    sigaction(SIGINT, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_IGN);
    signal(SIGINT, SIG_DFL);
}

}  // namespace
