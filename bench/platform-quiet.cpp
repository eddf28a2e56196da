// A platform for the benchmark: no title, no key wait, ticks from the steady clock.
#include <chrono>

#include "platform.h"

namespace platform {

void setTitle(const char* /*title*/) {}

void muteKeys() {}

void waitForKey() {}

int finish(int status) { return status; }

void awaitAnswer(const char* /*prompt*/) {}

void leavePromptLine() {}

std::int32_t tickCount()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(ms));
}

}  // namespace platform
