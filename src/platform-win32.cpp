// The Windows console: the command interpreter names the window and waits for
// the key; ticks are the system's millisecond count since start-up.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "platform.h"

namespace {

/// Ctrl-C and Ctrl-Break end the program as Windows ends a console program by default, with the
/// status that says so (Wine's default would be 0, the status of a run that went well).
BOOL WINAPI onControl(DWORD event)
{
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        ExitProcess(STATUS_CONTROL_C_EXIT);
    }
    return FALSE;
}

/// Drops what was typed at the console and not yet read, so that a key typed ahead cannot end
/// the key wait before its prompt is seen. Redirected input keeps all of it, for whoever reads next.
void dropTypedKeys()
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode) != 0) {
        static_cast<void>(FlushConsoleInputBuffer(input));
    }
}

}  // namespace

namespace platform {

void setTitle(const char* title)
{
    // The first thing the program does; from here on, Ctrl-C ends it with the status it should.
    static_cast<void>(SetConsoleCtrlHandler(onControl, TRUE));
    const std::string command = std::string("title ") + title;
    static_cast<void>(std::system(command.c_str()));  // NOLINT(cert-env33-c): the console's own command
}

// The console does not echo keys typed while the program is not reading them, but keeps them; what
// was typed after the second answer is dropped here, and what was typed while summing at the key wait.
void muteKeys() { dropTypedKeys(); }

void waitForKey()
{
    std::cout.flush();                        // the interpreter writes its prompt after ours
    dropTypedKeys();                          // only a key pressed once the prompt is there ends the wait
    static_cast<void>(std::system("pause"));  // NOLINT(cert-env33-c): the console's own command
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
