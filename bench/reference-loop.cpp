// Times the plain transcription of the series loop, as the program reports its
// own loop. Usage: reference-loop X TERMS (X is 1; it comes from the command
// line so the compiler cannot fold it).
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "transcription.h"

int main(int argc, char** argv)
{
    int x = 0;
    int max = 0;
    if (argc != 3 || std::from_chars(argv[1], argv[1] + std::strlen(argv[1]), x).ec != std::errc() ||
        std::from_chars(argv[2], argv[2] + std::strlen(argv[2]), max).ec != std::errc()) {
        static_cast<void>(std::fputs("usage: reference-loop X TERMS\n", stderr));
        return 2;
    }
    const auto begin = std::chrono::steady_clock::now();
    const double sum = transcribedSeries(x, max);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
    static_cast<void>(std::printf("Pi=%.17g\nTime elapsed: %.5g\n", sum * 4.0, took.count()));
    return 0;
}
