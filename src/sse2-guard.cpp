// The 32-bit x86 builds compute in SSE2, which the oldest processors of that family lack. This
// file is compiled without it, and checks for it before any of the program's own code runs, so
// that such a processor gets a message rather than "Illegal instruction".
#include <cpuid.h>

#include <cstdio>
#include <cstdlib>

namespace {

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
        std::_Exit(1);
    }
}

}  // namespace
