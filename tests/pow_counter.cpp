// Counts a program's calls of pow. Preloaded (LD_PRELOAD), it stands in front of the C
// library's pow, and at exit writes the count to the file that ZELMAR_POW_COUNT names.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace {

unsigned long long calls = 0;

struct Report {
    Report() = default;
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;
    ~Report()
    {
        const char* path = std::getenv("ZELMAR_POW_COUNT");  // NOLINT(concurrency-mt-unsafe): at exit
        std::FILE* file = path != nullptr ? std::fopen(path, "w") : nullptr;
        if (file != nullptr) {
            static_cast<void>(std::fprintf(file, "%llu\n", calls));
            static_cast<void>(std::fclose(file));
        }
    }
} report;

}  // namespace

extern "C" double pow(double x, double y)
{
    using Pow = double (*)(double, double);
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): how dlsym gives functions
    static const auto next = reinterpret_cast<Pow>(dlsym(RTLD_NEXT, "pow"));
    ++calls;
    return next(x, y);
}
