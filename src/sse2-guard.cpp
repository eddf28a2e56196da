// The 32-bit x86 builds compute in SSE2, which the oldest processors of that family lack. This
// file is compiled without it, and checks for it before any of the program's own code runs, so
// that such a processor gets a message rather than "Illegal instruction".
#include <cpuid.h>

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace {

#ifdef _WIN32
/// In a console window of its own, which closes as the program ends (opened by a double-click),
/// waits for a key first, so that the message can be read. Only plain calls of the system: the
/// program's own code may use SSE2.
void holdWindow()
{
    DWORD processes[2] = {};
    DWORD count = 0;
    HANDLE keys = GetStdHandle(STD_INPUT_HANDLE);
    if (GetConsoleProcessList(processes, 2) != 1 || GetConsoleMode(keys, &count) == 0) {
        return;  // a console that stays open, or input from elsewhere
    }
    constexpr char prompt[] = "Press any key to continue . . . ";
    HANDLE screen = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (screen == INVALID_HANDLE_VALUE ||
        WriteConsoleA(screen, prompt, sizeof prompt - 1, &count, nullptr) == 0) {
        return;  // the program exits at once, which closes the handle
    }
    static_cast<void>(FlushConsoleInputBuffer(keys));
    INPUT_RECORD event{};
    while (ReadConsoleInputA(keys, &event, 1, &count) != 0 && count == 1) {
        if (event.EventType == KEY_EVENT && event.Event.KeyEvent.bKeyDown != 0 &&
            (event.Event.KeyEvent.wVirtualKeyCode < VK_SHIFT ||
             event.Event.KeyEvent.wVirtualKeyCode > VK_MENU)) {  // Shift, Ctrl and Alt alone do not count
            return;
        }
    }
}
#else
void holdWindow() {}
#endif

// Before every other constructor of the program (101 is the first that is not the compiler's).
__attribute__((constructor(101))) void requireSse2()
{
    unsigned int a = 0;
    unsigned int b = 0;
    unsigned int c = 0;
    unsigned int d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (d & bit_SSE2) == 0) {
        // Where even this message cannot be written, the status still says it.
        static_cast<void>(std::fputs(
            "zelmar: this program needs a processor with SSE2 (Pentium 4, Athlon 64 or later)\n", stderr));
        holdWindow();
        std::_Exit(1);
    }
}

}  // namespace
