// Zelmar: approximates pi by summing the arctan series at x = 1,
// pi/4 = 1 - 1/3 + 1/5 - ..., and times the summation.
#include <cmath>
#include <cstdint>
#include <iomanip>
#include <iostream>
#include <limits>

#include "platform.h"
#include "systimer.h"

namespace {

/// True if everything written to standard output so far got there; otherwise says so.
bool outputWritten()
{
    if (std::cout.flush()) {
        return true;
    }
    std::cerr << "zelmar: could not write to standard output" << std::endl;
    return false;
}

/// Asks `prompt` until a whole number in the range of int is typed, and
/// discards the rest of that line. False, with a message, if the prompt could
/// not be written (then nothing is read) or input ends first.
bool ask(const char* prompt, int& answer)
{
    for (;;) {
        std::cout << prompt;
        if (!outputWritten()) {
            return false;
        }
        if ((std::cin >> std::ws).eof()) {
            platform::leavePromptLine();
            std::cerr << "zelmar: input ended before the question was answered" << std::endl;
            return false;
        }
        std::cin >> answer;
        const bool ok = !std::cin.fail();
        std::cin.clear();
        std::cin.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
        if (ok) {
            return true;
        }
        std::cerr << "zelmar: expected a whole number from " << std::numeric_limits<int>::min() << " to "
                  << std::numeric_limits<int>::max() << std::endl;
    }
}

}  // namespace

int main()
{
    // x is the argument of arctan. It is volatile so that x^(2n+1) is really
    // evaluated for every term, as the series is written, rather than folded
    // away by the compiler because x happens to be 1.
    volatile int x = 1;
    double sum = 0.0;
    SysTimer time;

    platform::setTitle("Zelmar");
    std::cout << "Zelmar Pi Approximator" << std::endl
              << "By Dravelund" << std::endl
              << "Uses the MacLaurin Approximation for y=arctan x" << std::endl;

    // From the first write that fails, the run stops: no question is asked and nothing more is read.
    int max = 0;
    int mod = 0;
    if (!outputWritten() || !ask("Use how many terms of approximation?", max) ||
        !ask("Output progress every how many terms?", mod)) {
        return 1;
    }

    time.start();
    for (int n = 0; n < max; ++n) {
        // An interval of 0 means no progress lines; a negative one acts as its magnitude.
        // Once output fails (the reader has gone, say) nothing more can be reported.
        if (mod != 0 && n % mod == 0 && !(std::cout << n << std::endl)) {
            break;
        }
        // 2n+1 in 64 bits: it passes the range of int once n exceeds 2^30.
        const auto d = static_cast<double>(2 * std::int64_t{n} + 1);
        const double p = std::pow(static_cast<double>(x), d);
        const double s = std::pow(-1.0, static_cast<double>(n)) * p;
        sum = sum + s / d;
    }
    time.stop();
    if (!outputWritten()) {
        return 1;
    }

    std::cout << std::setprecision(50) << "Number of MacLaurin terms used: " << max << std::endl
              << "Pi=" << sum * 4.0 << std::endl;
    std::cout << std::setprecision(5);
    const double g = time.granularity();
    const double e = time.elapsedTime() / g;
    std::cout << "Time elapsed: " << e / 1000.0 << std::endl;

    if (!outputWritten()) {
        return 1;
    }
    platform::waitForKey();
    return outputWritten() ? 0 : 1;
}
