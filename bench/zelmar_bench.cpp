// Costs per term: the program's own summation (the whole program, run on
// answers with no progress lines), the plain transcription of the loop, and
// the floor (the same sum with no power calls); and the cost of one progress
// line written to a pipe.
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>

#include "transcription.h"

int zelmarMain();  // the program's main, renamed for this build (see CMakeLists.txt)

namespace {

constexpr int terms = 1'000'000;

/// The sum with the sign alternated by hand: the same doubles, no power calls.
double floorSeries(int max)
{
    double sum = 0.0;
    double sign = 1.0;
    for (int n = 0; n < max; ++n) {
        sum += sign / static_cast<double>(2 * std::int64_t{n} + 1);
        sign = -sign;
    }
    return sum;
}

void perTerm(benchmark::State& state)
{
    state.counters["per_term"] = benchmark::Counter(terms, benchmark::Counter::kIsIterationInvariantRate |
                                                               benchmark::Counter::kInvert);
}

/// Swallows the program's output.
class NullBuffer : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
};

void program(benchmark::State& state)
{
    NullBuffer sink;
    std::streambuf* out = std::cout.rdbuf(&sink);
    const std::string answers = std::to_string(terms) + "\n0\n";
    for (auto _ : state) {
        std::istringstream in(answers);
        std::streambuf* given = std::cin.rdbuf(in.rdbuf());
        std::cin.clear();
        benchmark::DoNotOptimize(zelmarMain());
        std::cin.rdbuf(given);
    }
    std::cout.rdbuf(out);
    perTerm(state);
}

void transcription(benchmark::State& state)
{
    int x = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(x);
        benchmark::DoNotOptimize(transcribedSeries(x, terms));
    }
    perTerm(state);
}

void floorSum(benchmark::State& state)
{
    if (floorSeries(terms) != transcribedSeries(1, terms)) {
        state.SkipWithError("the floor's sum differs from the series'");
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(floorSeries(terms));
    }
    perTerm(state);
}

void progressLine(benchmark::State& state)
{
    int ends[2];
    if (pipe(ends) != 0) {
        state.SkipWithError("no pipe");
        return;
    }
    std::thread reader([r = ends[0]] {
        char buffer[65536];
        while (read(r, buffer, sizeof buffer) > 0) {
        }
    });
    std::cout.flush();
    const int saved = dup(STDOUT_FILENO);
    dup2(ends[1], STDOUT_FILENO);
    close(ends[1]);
    int n = 0;
    for (auto _ : state) {
        std::cout << n++ << std::endl;
    }
    dup2(saved, STDOUT_FILENO);  // the pipe's last writer goes: the reader sees its end
    close(saved);
    reader.join();
    close(ends[0]);
}

}  // namespace

BENCHMARK(program)->Unit(benchmark::kMillisecond);
BENCHMARK(transcription)->Unit(benchmark::kMillisecond);
BENCHMARK(floorSum)->Unit(benchmark::kMillisecond);
BENCHMARK(progressLine);
BENCHMARK_MAIN();
