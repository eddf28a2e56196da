#include "systimer.h"

#include <iostream>

namespace {

constexpr double ticksPerSecond = 1000.0;
constexpr double secondsPerTick = 0.001;

// Tick arithmetic is modular, as the counter is: an interval that straddles the
// wrap-around still comes out right (if it is under 2^31 ticks), and nothing overflows.
std::int32_t tickDifference(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

std::int32_t tickSum(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

}  // namespace

SysTimer::SysTimer(TickSource clock) : myClock(clock) {}

void SysTimer::start()
{
    if (amRunning) {
        std::cerr << "attempt to start an already running stopwatch" << std::endl;
        return;
    }
    amRunning = true;
    myStartTime = myClock();
}

void SysTimer::stop()
{
    if (!amRunning) {
        std::cerr << "attempt to stop a non-running stopwatch" << std::endl;
        return;
    }
    const std::int32_t myEndTime = myClock();
    myElapsed = tickDifference(myEndTime, myStartTime);
    myCumulative = tickSum(myCumulative, myElapsed);
    amRunning = false;
}

double SysTimer::elapsedTime() const
{
    return amRunning ? 0.0 : static_cast<double>(myElapsed) / ticksPerSecond;
}

// A property of the stopwatch's clock, so a member like the rest of its interface.
// NOLINTNEXTLINE(readability-convert-member-functions-to-static)
double SysTimer::granularity() const { return secondsPerTick; }

double SysTimer::cumulativeTime() const { return static_cast<double>(myCumulative) / ticksPerSecond; }
