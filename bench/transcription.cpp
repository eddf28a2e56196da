#include "transcription.h"

#include <cmath>

double transcribedSeries(int x, int max)
{
    double sum = 0.0;
    for (int n = 0; n < max; ++n) {
        const double p = std::pow(static_cast<double>(x), static_cast<double>(2 * n + 1));
        const double s = std::pow(-1.0, static_cast<double>(n)) * p;
        sum = sum + s / static_cast<double>(2 * n + 1);
    }
    return sum;
}
