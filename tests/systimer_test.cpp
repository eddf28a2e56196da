// The stopwatch against a clock the test moves by hand.
#include "systimer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

std::int32_t fakeNow = 0;
std::int32_t fakeClock() { return fakeNow; }

constexpr std::int32_t lowest = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t highest = std::numeric_limits<std::int32_t>::max();
const std::string startMisuse = "attempt to start an already running stopwatch\n";
const std::string stopMisuse = "attempt to stop a non-running stopwatch\n";

}  // namespace

TEST(SysTimer, MisuseIsReportedAndChangesNothing)
{
    fakeNow = 100;
    SysTimer time(fakeClock);
    EXPECT_EQ(time.granularity(), 0.001);
    CaptureStderr();
    time.stop();
    EXPECT_EQ(GetCapturedStderr(), stopMisuse);
    EXPECT_EQ(time.elapsedTime(), 0.0);

    time.start();
    fakeNow = 200;
    CaptureStderr();
    time.start();
    EXPECT_EQ(GetCapturedStderr(), startMisuse);
    fakeNow = 350;
    time.stop();  // measured from the first start
    EXPECT_EQ(time.elapsedTime(), 0.25);

    CaptureStderr();
    time.stop();
    EXPECT_EQ(GetCapturedStderr(), stopMisuse);
    EXPECT_EQ(time.elapsedTime(), 0.25);
    EXPECT_EQ(time.cumulativeTime(), 0.25);
}

TEST(SysTimer, ReportsEachIntervalOnceStoppedAndAddsItToTheTotal)
{
    struct Interval {
        std::int32_t from, to;
        double seconds, total;
    };
    const Interval intervals[] = {
        {1000, 1250, 0.25, 0.25},
        {-500, 500, 1.0, 1.25},
        {7, 7, 0.0, 1.25},
        {highest - 99, lowest + 150, 0.25, 1.5},  // across the counter's wrap-around
    };
    SysTimer time(fakeClock);
    for (const Interval& i : intervals) {
        fakeNow = i.from;
        time.start();
        fakeNow = i.to;
        EXPECT_EQ(time.elapsedTime(), 0.0) << "running, from " << i.from;
        time.stop();
        fakeNow += 9000;  // a stopped stopwatch keeps its interval as time goes on
        EXPECT_EQ(time.elapsedTime(), i.seconds) << i.from << " to " << i.to;
        EXPECT_DOUBLE_EQ(time.cumulativeTime(), i.total) << i.from << " to " << i.to;
    }
}
