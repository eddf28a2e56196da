// WebAssembly, in a page or under Node: the host (web/host.js, or the page that
// loads the program) gives standard input a byte at a time, takes what is written,
// and is told which input modes the program wants, as a terminal would be; a write waits while
// the host's screen is too far behind, as at a slow terminal. web/protocol.js describes the hooks.
#include <emscripten.h>
#include <wasi/api.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "platform.h"

namespace {

constexpr char pausePrompt[] = "Press any key to continue . . . ";

// What typed keys do, as the host's line discipline sees it; web/protocol.js names the modes.
EM_JS(void, lineModes, (), { Module["zelmarModes"](zelmarProtocol.modes.line); });
EM_JS(void, quietModes, (), { Module["zelmarModes"](zelmarProtocol.modes.quiet); });
EM_JS(void, keyModes, (), { Module["zelmarModes"](zelmarProtocol.modes.key); });

EM_JS(void, showTitle, (const char* title), { Module["zelmarTitle"](UTF8ToString(title)); });

EM_JS(double, monotonicMilliseconds, (), { return Math.floor(performance.now()); });

EM_JS(int, atTerminal, (), { return Module["zelmarTerminal"] ? 1 : 0; });

// Standard input and output are the host's, unless a test has made one of them a file (dup2).
EM_ASYNC_JS(int, readInput, (int fd, char* buffer, int size), {
    const file = typeof FS == "object" && FS.getStream(fd);
    if (file && !file.tty) {
        return FS.read(file, HEAP8, buffer, size);
    }
    if (fd != 0) {
        return -1;
    }
    const bytes = await Module["zelmarRead"](size);
    HEAPU8.set(bytes, buffer);
    return bytes.length;
});

EM_JS(int, writeOutput, (int fd, const char* bytes, int size), {
    const file = typeof FS == "object" && FS.getStream(fd);
    if (file && !file.tty) {
        return FS.write(file, HEAP8, bytes, size);
    }
    return fd == 1 || fd == 2 ? Module["zelmarWrite"](fd, HEAPU8.subarray(bytes, bytes + size)) : -1;
});

// A write is a plain call; only where the screen has fallen too far behind does the program wait.
EM_JS(int, hostBehind, (), { return Module["zelmarBehind"]() ? 1 : 0; });

EM_ASYNC_JS(void, waitForHost, (), { await Module["zelmarDrain"](); });

// Standard output is line-buffered, as at a terminal, rather than unbuffered: a progress line is
// then one write to the host, not one for the number and one for its line end.
const struct LineBuffered {
    LineBuffered() { static_cast<void>(std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ)); }
} lineBuffered;

}  // namespace

// The C library's reads and writes come here, in place of the system's, and each goes whole to
// the host or the file. Standard input is unbuffered, so it is read a byte at a time. (The C
// library's declarations name the parameters in its own style.)
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" __wasi_errno_t __wasi_fd_read(__wasi_fd_t fd, const __wasi_iovec_t* iovs, std::size_t count,
                                         __wasi_size_t* done)
{
    *done = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int size = static_cast<int>(iovs[i].buf_len);
        if (size == 0) {
            continue;  // the C library's own buffer, which is empty while input is unbuffered
        }
        const int got = readInput(static_cast<int>(fd), reinterpret_cast<char*>(iovs[i].buf), size);
        if (got < 0) {
            return __WASI_ERRNO_BADF;
        }
        *done += static_cast<__wasi_size_t>(got);
        if (got < size) {
            break;
        }
    }
    return __WASI_ERRNO_SUCCESS;
}

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" __wasi_errno_t __wasi_fd_write(__wasi_fd_t fd, const __wasi_ciovec_t* iovs, std::size_t count,
                                          __wasi_size_t* done)
{
    // The C library hands over what it had buffered and what follows it as two parts (a progress
    // line's number and its line end, say): short parts go to the host joined, as one write.
    std::array<std::uint8_t, 256> joined{};
    std::size_t total = 0;
    for (std::size_t i = 0; i < count; ++i) {
        total += iovs[i].buf_len;
    }
    if (count > 1 && total <= joined.size()) {
        std::size_t at = 0;
        for (std::size_t i = 0; i < count; ++i) {
            std::memcpy(joined.data() + at, iovs[i].buf, iovs[i].buf_len);
            at += iovs[i].buf_len;
        }
        const __wasi_ciovec_t whole{joined.data(), total};
        return __wasi_fd_write(fd, &whole, 1, done);
    }
    *done = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int size = static_cast<int>(iovs[i].buf_len);
        if (size == 0) {
            continue;  // an empty part, as a flush names one
        }
        if (writeOutput(static_cast<int>(fd), reinterpret_cast<const char*>(iovs[i].buf), size) != size) {
            return __WASI_ERRNO_IO;
        }
        *done += static_cast<__wasi_size_t>(size);
    }
    if (hostBehind() != 0) {
        waitForHost();
    }
    return __WASI_ERRNO_SUCCESS;
}

namespace platform {

void setTitle(const char* title) { showTitle(title); }

void muteKeys() { quietModes(); }

void waitForKey()
{
    std::cout << pausePrompt << std::flush;
    if (!std::cout) {
        return;  // nobody saw the prompt, so no key is awaited
    }
    keyModes();
    std::cin.get();
    lineModes();
    std::cout << std::endl;
}

// The page keeps what the run wrote on the screen.
int finish(int status) { return status; }

// The page shows no prompt again: it is never stopped.
void awaitAnswer(const char* /*prompt*/) {}

void leavePromptLine()
{
    // Ctrl-D, which ends input at the page's terminal, is not echoed: the cursor is still after the prompt.
    if (atTerminal() != 0) {
        std::cout << std::endl;
    }
}

std::int32_t tickCount()
{
    const auto ms = static_cast<std::uint64_t>(monotonicMilliseconds());
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(ms));
}

}  // namespace platform
