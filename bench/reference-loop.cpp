// The series loop as it is written, with nothing around it: the yardstick that
// the program's own loop is measured against. Usage: reference-loop X TERMS
// (X is 1; it comes from the command line so the compiler cannot fold it).
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    int x = 0;
    int max = 0;
    if (argc != 3 || std::from_chars(argv[1], argv[1] + std::strlen(argv[1]), x).ec != std::errc() ||
        std::from_chars(argv[2], argv[2] + std::strlen(argv[2]), max).ec != std::errc()) {
        static_cast<void>(std::fputs("usage: reference-loop X TERMS\n", stderr));
        return 2;
    }
    double sum = 0.0;
    const auto begin = std::chrono::steady_clock::now();
    for (int n = 0; n < max; ++n) {
        const double p = std::pow(static_cast<double>(x), static_cast<double>(2 * n + 1));
        const double s = std::pow(-1.0, static_cast<double>(n)) * p;
        sum = sum + s / static_cast<double>(2 * n + 1);
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
    static_cast<void>(std::printf("Pi=%.17g\nTime elapsed: %.5g\n", sum * 4.0, took.count()));
    return 0;
}
