// WebAssembly, in a page or under Node: the host (web/host.js, or the page that
// loads the program) gives standard input a byte at a time, takes what is written,
// and is told which input modes the program wants, as a terminal would be.
#include <emscripten.h>
#include <wasi/api.h>

#include <cstddef>
#include <cstdint>
#include <iostream>

#include "platform.h"

namespace {

constexpr char pausePrompt[] = "Press any key to continue . . . ";

// What typed keys do, as the host's line discipline sees it: `lineModes` echoes them and lets
// Backspace edit the line until Enter; `quietModes` drops them; `keyModes` takes one key, unechoed.
enum Modes : int { lineModes, quietModes, keyModes };

EM_JS(void, setModes, (int modes), { Module["zelmarModes"](modes); });

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
    return fd == 1 || fd == 2 ? Module["zelmarWrite"](fd, HEAPU8.slice(bytes, bytes + size)) : -1;
});

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
    *done = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int size = static_cast<int>(iovs[i].buf_len);
        if (writeOutput(static_cast<int>(fd), reinterpret_cast<const char*>(iovs[i].buf), size) != size) {
            return __WASI_ERRNO_IO;
        }
        *done += static_cast<__wasi_size_t>(size);
    }
    return __WASI_ERRNO_SUCCESS;
}

namespace platform {

void setTitle(const char* title) { showTitle(title); }

void muteKeys() { setModes(quietModes); }

void waitForKey()
{
    std::cout << pausePrompt << std::flush;
    if (!std::cout) {
        return;  // nobody saw the prompt, so no key is awaited
    }
    setModes(keyModes);
    std::cin.get();
    setModes(lineModes);
    std::cout << std::endl;
}

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
