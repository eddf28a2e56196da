// Sums the arctan series at 1 on its own terms (no power calls, 2n+1 in
// floating point) and prints four times the sum as the program's report does.
// For runs too long to sum in the test script. Usage: series_reference TERMS
#include <charconv>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    long long terms = 0;
    if (argc != 2 || std::from_chars(argv[1], argv[1] + std::strlen(argv[1]), terms).ec != std::errc()) {
        static_cast<void>(std::fputs("usage: series_reference TERMS\n", stderr));
        return 2;
    }
    double sum = 0.0;
    for (long long n = 0; n < terms; ++n) {
        sum += (n % 2 == 0 ? 1.0 : -1.0) / (2.0 * static_cast<double>(n) + 1.0);
    }
    static_cast<void>(std::printf("%.50g\n", sum * 4.0));
    return 0;
}
