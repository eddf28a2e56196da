// The series loop as it is written, with nothing around it: the yardstick that
// the program's own loop is measured against. Usage: reference-loop X TERMS
// (X is 1; it comes from the command line so the compiler cannot fold it).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: reference-loop X TERMS\n");
        return 2;
    }
    const int x = std::atoi(argv[1]);
    const int max = std::atoi(argv[2]);
    double sum = 0.0;
    const auto begin = std::chrono::steady_clock::now();
    for (int n = 0; n < max; ++n) {
        const double p = std::pow(static_cast<double>(x), static_cast<double>(2 * n + 1));
        const double s = std::pow(-1.0, static_cast<double>(n)) * p;
        sum = sum + s / static_cast<double>(2 * n + 1);
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
    std::printf("Pi=%.17g\nTime elapsed: %.5g\n", sum * 4.0, took.count());
    return 0;
}
