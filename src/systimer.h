// A stopwatch that times wall-clock intervals in millisecond ticks.
#pragma once

#include <cstdint>

#include "platform.h"

/// Measures the time between start() and stop(); misuse is reported on
/// standard error and otherwise ignored.
class SysTimer {
public:
    /// Where ticks come from: wall-clock milliseconds as a wrapping 32-bit count.
    using TickSource = std::int32_t (*)();

    /// A stopped stopwatch with no interval yet, reading ticks from `clock`.
    explicit SysTimer(TickSource clock = platform::tickCount);

    /// Starts timing; if already running, says so on standard error and keeps the first start.
    void start();
    /// Ends the interval; if not running, says so on standard error and keeps the last interval.
    void stop();
    /// Seconds in the last completed interval; 0 while running.
    [[nodiscard]] double elapsedTime() const;
    /// Seconds in one tick.
    [[nodiscard]] double granularity() const;
    /// Seconds in all completed intervals together.
    [[nodiscard]] double cumulativeTime() const;

private:
    bool amRunning = false;
    std::int32_t myStartTime = 0;
    std::int32_t myElapsed = 0;
    std::int32_t myCumulative = 0;
    TickSource myClock;
};
