// POSIX terminals: the title through xterm's escapes, the key wait in
// non-canonical mode, ticks from the monotonic clock.
//
// Two things are borrowed from the user's terminal: its title, and (from the
// summation to the end of the key wait) its input modes. Each has a setting for
// "we want it" and one for "we hold it now". Whatever ends or stops the program
// gives back what it holds; after a stop it takes again what it wants, once it is
// in the foreground.
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>

#include "platform.h"

namespace {

termios mySavedModes{};
volatile std::sig_atomic_t amTitleWanted = 0;
volatile std::sig_atomic_t amTitled = 0;
// The input modes wanted, and those the terminal is in now: the user's own, or ours.
enum Modes : std::sig_atomic_t { usersModes, quietModes, keyModes };
volatile std::sig_atomic_t myWantedModes = usersModes;
volatile std::sig_atomic_t myHeldModes = usersModes;
const char* volatile myPrompt = nullptr;  // a question awaiting an answer typed at a terminal

constexpr char pausePrompt[] = "Press any key to continue . . . ";

// xterm and its kin keep a stack of titles: push the user's before ours, pop it at the end.
constexpr char popTitle[] = "\033[23;0t";
char mySetTitle[128] = {};  // the push, then ours; written from signal handlers too

constexpr int endingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int stoppingSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};

// Everything from here to the handlers is safe to call from a signal handler.

/// Writes all of `text` to `fd`, going on after interruptions; false on failure.
bool writeAll(int fd, const char* text, std::size_t size) noexcept
{
    while (size > 0) {
        const ssize_t done = write(fd, text, size);
        if (done > 0) {
            text += done;
            size -= static_cast<std::size_t>(done);
        } else if (done == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

/// True if the terminal on `fd` belongs to our process group now.
bool inForeground(int fd) noexcept { return tcgetpgrp(fd) == getpgrp(); }

void releaseModes() noexcept
{
    if (myHeldModes != usersModes) {
        // Flushing drops the rest of a key that sends several bytes (an arrow key, say).
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &mySavedModes);
        myHeldModes = usersModes;
    }
}

void releaseTitle() noexcept
{
    if (amTitled != 0) {
        amTitled = 0;
        static_cast<void>(writeAll(STDOUT_FILENO, popTitle, sizeof popTitle - 1));
    }
}

/// Takes what is wanted and not yet held, if the terminal is ours to change.
void takeTerminal() noexcept
{
    if (amTitleWanted != 0 && amTitled == 0 && inForeground(STDOUT_FILENO)) {
        amTitled = 1;
        static_cast<void>(writeAll(STDOUT_FILENO, mySetTitle, std::strlen(mySetTitle)));
    }
    // The user's modes are saved afresh each time: a shell may have changed them while we were stopped.
    const std::sig_atomic_t wanted = myWantedModes;
    if (wanted == usersModes || wanted == myHeldModes || !inForeground(STDIN_FILENO) ||
        (myHeldModes == usersModes && tcgetattr(STDIN_FILENO, &mySavedModes) != 0)) {
        return;
    }
    termios modes = mySavedModes;
    // Keys typed during the summation are not echoed, lest the report start mid-line.
    modes.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    if (wanted == keyModes) {
        // One key, unechoed, ends the wait; Ctrl-C, Ctrl-\ and Ctrl-Z keep their meaning.
        modes.c_lflag &= ~static_cast<tcflag_t>(ICANON | IEXTEN);
        modes.c_iflag &= ~static_cast<tcflag_t>(IXON);
        modes.c_cc[VMIN] = 1;
        modes.c_cc[VTIME] = 0;
    }
    myHeldModes = wanted;
    // Flushing drops what was typed before: during the summation, at the key wait.
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &modes);
}

/// The signals whose handlers touch the terminal; each handler holds back all of them.
sigset_t guardedSignals() noexcept
{
    sigset_t all;
    sigemptyset(&all);
    for (const int sig : endingSignals) {
        sigaddset(&all, sig);
    }
    for (const int sig : stoppingSignals) {
        sigaddset(&all, sig);
    }
    return all;
}

void setAction(int sig, void (*handler)(int)) noexcept
{
    struct sigaction act {};
    act.sa_handler = handler;
    act.sa_mask = guardedSignals();
    // A read or write that a stop interrupted goes on after it, not failing with EINTR.
    act.sa_flags = SA_RESTART;
    sigaction(sig, &act, nullptr);
}

extern "C" void onEndingSignal(int sig)
{
    releaseModes();
    releaseTitle();
    // End the way the signal meant: it is delivered again, to its default action, on return.
    setAction(sig, SIG_DFL);
    static_cast<void>(raise(sig));
}

extern "C" void onStoppingSignal(int sig)
{
    const int savedErrno = errno;
    releaseModes();
    releaseTitle();
    // Stop for real, by the signal's default action.
    setAction(sig, SIG_DFL);
    sigset_t own;
    sigemptyset(&own);
    sigaddset(&own, sig);
    sigprocmask(SIG_UNBLOCK, &own, nullptr);
    static_cast<void>(raise(sig));
    // Here SIGCONT has woken us (or the stop was discarded, in an orphaned process group).
    setAction(sig, onStoppingSignal);
    takeTerminal();
    // The shell has written over the screen: say again what is awaited, where the prompt goes to
    // the terminal that we are in front of again.
    const char* prompt = myWantedModes == keyModes ? pausePrompt : myPrompt;
    if (prompt != nullptr && inForeground(STDOUT_FILENO)) {
        static_cast<void>(writeAll(STDOUT_FILENO, "\r", 1) &&
                          writeAll(STDOUT_FILENO, prompt, std::strlen(prompt)));
    }
    errno = savedErrno;
}

extern "C" void onExit()
{
    std::cout.flush();
    amTitleWanted = 0;
    releaseModes();
    releaseTitle();
}

/// Holds back the guarded signals while the flags and the terminal change together.
class HeldSignals {
public:
    HeldSignals() noexcept
    {
        const sigset_t all = guardedSignals();
        sigprocmask(SIG_BLOCK, &all, &myOld);
    }
    ~HeldSignals() { sigprocmask(SIG_SETMASK, &myOld, nullptr); }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

private:
    sigset_t myOld{};
};

/// Makes sure the terminal is given back at exit, on the signals that end a run
/// and before a stop, and taken again after it.
void guardTerminal()
{
    static bool amGuarded = false;
    if (amGuarded) {
        return;
    }
    amGuarded = true;
    static_cast<void>(std::atexit(onExit));  // fails only past 32 handlers
    const auto guard = [](int sig, void (*handler)(int)) {
        struct sigaction old {};
        sigaction(sig, nullptr, &old);
        if (old.sa_handler != SIG_IGN) {  // left ignored by whoever started us (nohup, say): so be it
            setAction(sig, handler);
        }
    };
    for (const int sig : endingSignals) {
        guard(sig, onEndingSignal);
    }
    for (const int sig : stoppingSignals) {
        guard(sig, onStoppingSignal);
    }
}

/// True if standard output is a terminal that understands escapes, as TERM says.
bool smartTerminal()
{
    const char* term = std::getenv("TERM");  // NOLINT(concurrency-mt-unsafe): one thread
    return isatty(STDOUT_FILENO) != 0 && term != nullptr && *term != '\0' && std::strcmp(term, "dumb") != 0;
}

/// Wants the input modes given, and takes them if the terminal is ours to change.
void wantModes(Modes modes)
{
    guardTerminal();
    const HeldSignals held;
    myWantedModes = modes;
    if (modes == usersModes) {
        releaseModes();
    } else {
        takeTerminal();
    }
}

}  // namespace

namespace platform {

void setTitle(const char* title)
{
    if (!smartTerminal()) {
        return;
    }
    std::cout.flush();
    guardTerminal();
    const HeldSignals held;
    // The push, then OSC 0; a title too long for the buffer is cut short.
    static_cast<void>(std::snprintf(mySetTitle, sizeof mySetTitle, "\033[22;0t\033]0;%.100s\a", title));
    amTitleWanted = 1;
    takeTerminal();
}

void awaitAnswer(const char* prompt)
{
    if (prompt != nullptr && isatty(STDIN_FILENO) == 0) {
        return;  // the answer is not typed
    }
    guardTerminal();
    const HeldSignals held;
    myPrompt = prompt;
}

void muteKeys()
{
    if (isatty(STDIN_FILENO) != 0) {
        wantModes(quietModes);
    }
}

void waitForKey()
{
    std::cout << pausePrompt << std::flush;
    if (!std::cout) {
        return;  // nobody saw the prompt, so no key is awaited
    }
    if (isatty(STDIN_FILENO) == 0) {
        std::cin.get();
    } else {
        wantModes(keyModes);
        char key = 0;
        while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
        }
        wantModes(usersModes);
    }
    std::cout << std::endl;
}

// A terminal's window is not closed under the message.
int finish(int status) { return status; }

void leavePromptLine()
{
    // The key that ends input at a terminal is not echoed: the cursor is still after the prompt.
    if (isatty(STDIN_FILENO) != 0 && isatty(STDOUT_FILENO) != 0) {
        std::cout << std::endl;
    }
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
