// Zelmar: approximates pi by summing the arctan series at x = 1,
// pi/4 = 1 - 1/3 + 1/5 - ..., and times the summation.
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <limits>
#include <string>

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

/// Reads the rest of the line after `answer`; if it holds more than white space, says on
/// standard error that it was ignored, showing its start with unprintable bytes escaped.
void dropRestOfLine(int answer)
{
    constexpr std::size_t shown = 40;
    std::string rest;   // from the first byte that is not white space, one more than is shown
    bool more = false;  // something besides white space came after that
    for (int c = std::cin.get(); c != std::char_traits<char>::eof() && c != '\n'; c = std::cin.get()) {
        const bool space = std::isspace(c) != 0;
        if (rest.size() <= shown && !(rest.empty() && space)) {
            rest += static_cast<char>(c);
        } else if (!rest.empty() && !space) {
            more = true;
        }
    }
    while (!more && !rest.empty() && std::isspace(static_cast<unsigned char>(rest.back())) != 0) {
        rest.pop_back();
    }
    if (rest.empty()) {
        return;
    }
    std::cerr << "zelmar: read " << answer << ", ignoring what follows it on the line: \"";
    for (const char c : rest.substr(0, shown)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            std::cerr << '\\' << c;
        } else if (byte >= 0x20 && byte < 0x7f) {
            std::cerr << c;
        } else {
            constexpr char hex[] = "0123456789abcdef";
            std::cerr << "\\x" << hex[byte >> 4U] << hex[byte & 0xfU];
        }
    }
    std::cerr << (more || rest.size() > shown ? "\"..." : "\"") << std::endl;
}

/// Asks `prompt` until a whole number in the range of int is typed, and
/// drops the rest of that line. False, with a message, if the prompt could
/// not be written (then nothing is read) or input ends first.
bool ask(const char* prompt, int& answer)
{
    for (;;) {
        platform::awaitAnswer(prompt);  // from before it is written, so that a stop cannot slip in between
        std::cout << prompt;
        if (!outputWritten()) {
            platform::awaitAnswer(nullptr);
            return false;
        }
        if ((std::cin >> std::ws).eof()) {
            platform::awaitAnswer(nullptr);
            platform::leavePromptLine();
            std::cerr << "zelmar: input ended before the question was answered" << std::endl;
            return false;
        }
        std::cin >> answer;
        const bool ok = !std::cin.fail();
        std::cin.clear();
        if (ok) {
            dropRestOfLine(answer);
        } else {
            std::cin.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
        }
        platform::awaitAnswer(nullptr);
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

    // Input is taken a byte at a time, so that what follows the last thing read (the key, in
    // the end) is left for whoever reads standard input next.
    static_cast<void>(std::setvbuf(stdin, nullptr, _IONBF, 0));

    platform::setTitle("Zelmar");
    std::cout << "Zelmar Pi Approximator" << std::endl
              << "By Dravelund" << std::endl
              << "Uses the MacLaurin Approximation for y=arctan x" << std::endl;

    // From the first write that fails, the run stops: no question is asked and nothing more is read
    // (a failed banner fails the first prompt's check, before anything is read).
    int max = 0;
    int mod = 0;
    if (!ask("Use how many terms of approximation?", max) ||
        !ask("Output progress every how many terms?", mod)) {
        return platform::finish(1);
    }

    platform::muteKeys();
    time.start();
    for (int n = 0; n < max; ++n) {
        // An interval of 0 means no progress lines; a negative one acts as its magnitude.
        // Once output fails (the reader has gone, say) nothing more can be reported: the report's
        // writes then do nothing, and the check before the key wait says so.
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

    std::cout << std::setprecision(50) << "Number of MacLaurin terms used: " << max << std::endl
              << "Pi=" << sum * 4.0 << std::endl;
    std::cout << std::setprecision(5);
    const double g = time.granularity();
    const double e = time.elapsedTime() / g;
    std::cout << "Time elapsed: " << e / 1000.0 << std::endl;

    if (!outputWritten()) {
        return platform::finish(1);
    }
    platform::waitForKey();
    return platform::finish(outputWritten() ? 0 : 1);
}
