// The Windows console: the window's title set through the console, the key wait read from it
// as key events; ticks are the system's millisecond count since start-up.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <iostream>

#include "platform.h"

namespace {

constexpr char pausePrompt[] = "Press any key to continue . . . ";

/// Ctrl-C and Ctrl-Break end the program as Windows ends a console program by default, with the
/// status that says so (Wine's default would be 0, the status of a run that went well).
BOOL WINAPI onControl(DWORD event)
{
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        ExitProcess(STATUS_CONTROL_C_EXIT);
    }
    return FALSE;
}

/// True if `input` is a console, rather than a pipe or a file.
bool isConsole(HANDLE input)
{
    DWORD mode = 0;
    return GetConsoleMode(input, &mode) != 0;
}

/// Drops what was typed at the console and not yet read. Redirected input keeps all of it, for
/// whoever reads next.
void dropTypedKeys(HANDLE input)
{
    if (isConsole(input)) {
        static_cast<void>(FlushConsoleInputBuffer(input));
    }
}

/// Waits for a key to be pressed at the console `input`. As the console's own `pause` does, it
/// takes no key released, and no Shift, Ctrl or Alt pressed on its own. Ctrl-C stays with the
/// control handler: the console, in processed mode, never queues it.
void readKey(HANDLE input)
{
    INPUT_RECORD event{};
    DWORD read = 0;
    while (ReadConsoleInputA(input, &event, 1, &read) != 0 && read == 1) {
        if (event.EventType != KEY_EVENT || event.Event.KeyEvent.bKeyDown == 0) {
            continue;  // a key released, the mouse, the window's size or focus
        }
        const WORD key = event.Event.KeyEvent.wVirtualKeyCode;
        if (key < VK_SHIFT || key > VK_MENU) {
            return;
        }
    }
}

}  // namespace

namespace platform {

void setTitle(const char* title)
{
    // The first thing the program does; from here on, Ctrl-C ends it with the status it should.
    static_cast<void>(SetConsoleCtrlHandler(onControl, TRUE));
    // As the interpreter's `title` does: the console keeps it until someone sets another.
    static_cast<void>(SetConsoleTitleA(title));
}

// The console does not echo keys typed while the program is not reading them, but keeps them; what
// was typed after the second answer is dropped here, and what was typed while summing at the key wait.
void muteKeys() { dropTypedKeys(GetStdHandle(STD_INPUT_HANDLE)); }

void waitForKey()
{
    std::cout << pausePrompt << std::flush;
    if (!std::cout) {
        return;  // nobody saw the prompt, so no key is awaited
    }
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (isConsole(input)) {
        dropTypedKeys(input);  // only now that the prompt is there: a key pressed before it does not count
        readKey(input);
    } else {
        std::cin.get();
    }
    std::cout << std::endl;
}

int finish(int status)
{
    // A console window of its own (opened for it, as by a double-click) closes as the program ends:
    // the message that says why it failed stays until a key is pressed there. A console shared with
    // the command interpreter stays open anyway, and input from elsewhere gets no key.
    DWORD processes[2] = {};
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (status == 0 || GetConsoleProcessList(processes, 2) != 1 || !isConsole(input)) {
        return status;
    }
    HANDLE screen = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (screen == INVALID_HANDLE_VALUE) {
        return status;
    }
    DWORD written = 0;
    if (WriteConsoleA(screen, pausePrompt, sizeof pausePrompt - 1, &written, nullptr) != 0) {
        dropTypedKeys(input);
        readKey(input);
    }
    static_cast<void>(CloseHandle(screen));
    return status;
}

// A console program is not stopped and continued: the prompt never needs showing again.
void awaitAnswer(const char* /*prompt*/) {}

// Ending input at the console takes Enter after Ctrl-Z, which has already ended the line.
void leavePromptLine() {}

std::int32_t tickCount() { return static_cast<std::int32_t>(GetTickCount()); }

}  // namespace platform

// The power function is the Windows C runtime's own, from msvcrt.dll, as a program built with
// Microsoft's compiler gets it: MinGW-w64 would otherwise link in its own, which computes in the
// x87 unit and takes several times as long. This definition takes the place of that one, and
// only forwards the call through the import table.
#define ZELMAR_STRING(x) #x
#define ZELMAR_SYMBOL(prefix, name) "__imp_" ZELMAR_STRING(prefix) name  // __imp_pow, or __imp__pow on i386
extern "C" {
extern double (*importedPow)(double, double) __asm__(ZELMAR_SYMBOL(__USER_LABEL_PREFIX__, "pow"));
double pow(double x, double y) { return importedPow(x, y); }
}
