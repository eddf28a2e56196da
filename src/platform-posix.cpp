// POSIX terminals: the title through an OSC escape, the key wait in
// non-canonical mode, ticks from the monotonic clock.
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <iostream>

#include "platform.h"

namespace {

// What the program changes in the terminal, and how to put it back. The flags
// are set before each change is made, so that a signal arriving at any moment
// finds what it has to undo.
termios mySavedModes{};
volatile std::sig_atomic_t amRaw = 0;
volatile std::sig_atomic_t amTitled = 0;

// xterm and its kin keep a stack of titles: push the user's before ours, pop it at the end.
constexpr char pushTitle[] = "\033[22;0t";
constexpr char popTitle[] = "\033[23;0t";

// Both restore functions are safe to call from a signal handler.
void restoreModes() noexcept
{
    if (amRaw != 0) {
        // Flushing drops the rest of a key that sends several bytes (an arrow key, say).
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &mySavedModes);
        amRaw = 0;
    }
}

void restoreTerminal() noexcept
{
    restoreModes();
    if (amTitled != 0) {
        static_cast<void>(write(STDOUT_FILENO, popTitle, sizeof popTitle - 1));
        amTitled = 0;
    }
}

extern "C" void onTerminatingSignal(int sig)
{
    restoreTerminal();
    // End the way the signal meant: it is delivered again, to its default action, on return.
    static_cast<void>(std::signal(sig, SIG_DFL));
    static_cast<void>(std::raise(sig));
}

extern "C" void onExit()
{
    std::cout.flush();
    restoreTerminal();
}

/// Makes sure the terminal is put back at exit and on the signals that end a run.
void guardTerminal()
{
    static bool amGuarded = false;
    if (amGuarded) {
        return;
    }
    amGuarded = true;
    static_cast<void>(std::atexit(onExit));  // fails only past 32 handlers
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction old {};
        sigaction(sig, nullptr, &old);
        if (old.sa_handler == SIG_IGN) {  // left ignored by whoever started us (nohup, say)
            continue;
        }
        struct sigaction act {};
        act.sa_handler = onTerminatingSignal;
        sigemptyset(&act.sa_mask);
        sigaction(sig, &act, nullptr);
    }
}

/// Reads one key at the terminal on standard input, without echo and without Enter.
void readKey()
{
    if (tcgetattr(STDIN_FILENO, &mySavedModes) != 0) {
        return;
    }
    guardTerminal();
    termios raw = mySavedModes;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    raw.c_cc[VSUSP] = _POSIX_VDISABLE;  // Ctrl-Z is a key here, not a way to leave the terminal raw
    amRaw = 1;
    if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) == 0) {
        char key = 0;
        while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
        }
    }
    restoreModes();
}

}  // namespace

namespace platform {

void setTitle(const char* title)
{
    if (isatty(STDOUT_FILENO) == 0) {
        return;
    }
    guardTerminal();
    amTitled = 1;
    std::cout << pushTitle << "\033]0;" << title << '\a' << std::flush;
}

void waitForKey()
{
    std::cout << "Press any key to continue . . . " << std::flush;
    if (isatty(STDIN_FILENO) != 0) {
        readKey();
    } else {
        std::cin.get();
    }
    std::cout << std::endl;
}

std::int32_t tickCount()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto ms =
        static_cast<std::uint64_t>(now.tv_sec) * 1000U + static_cast<std::uint64_t>(now.tv_nsec) / 1000000U;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(ms));
}

}  // namespace platform
