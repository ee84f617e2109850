// Cost of readState on state files of 10, 1,000 and 10,000 existing projects, against a floor
// measured in the same run: reading the file's bytes and one stat per project path, which any
// reader must do. Prints the time per call and the ratio to the floor for each size.
#include "state/summary.h"
#include "state_fixture.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillnest;
using namespace quillnest::bench;

namespace {

void BM_Floor(benchmark::State& state) {
    StateFixture& f = stateFixture(int(state.range(0)));
    for (auto _ : state) {
        QByteArray bytes = readBytes(f.stateFile.constData());
        benchmark::DoNotOptimize(bytes.data());
        benchmark::DoNotOptimize(existingProjects(f));
    }
}

// The floor plus QJsonDocument's parse of the bytes: what any reader built on it cannot go below.
void BM_FloorAndParse(benchmark::State& state) {
    StateFixture& f = stateFixture(int(state.range(0)));
    for (auto _ : state) {
        QByteArray bytes = readBytes(f.stateFile.constData());
        QJsonDocument document = QJsonDocument::fromJson(bytes);
        benchmark::DoNotOptimize(document);
        benchmark::DoNotOptimize(existingProjects(f));
    }
}

void BM_ReadState(benchmark::State& state) {
    StateFixture& f = stateFixture(int(state.range(0)));
    const QString dir = f.temp.path();
    if (readState(dir).projects.size() != qsizetype(f.paths.size()))
        std::abort();
    for (auto _ : state) {
        Summary summary = readState(dir);
        benchmark::DoNotOptimize(summary);
    }
}

BENCHMARK(BM_Floor)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FloorAndParse)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadState)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Prints the usual table, then the ratio of readState to the floor per size, from the fastest
// of the repeated runs.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0)
                continue;
            const double iterations = double(run.iterations);
            const Times times{run.real_accumulated_time / iterations,
                              run.cpu_accumulated_time / iterations};
            // Of repeated runs the fastest shows the cost with the least disturbance.
            const auto [it, added] = seconds_.try_emplace(run.run_name.str(), times);
            if (!added)
                it->second = {std::min(it->second.wall, times.wall),
                              std::min(it->second.cpu, times.cpu)};
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        // Wall time is what a caller waits; CPU time (the calling thread's, system calls included)
        // is steadier on a busy machine.
        printTable("wall time per call", &Times::wall);
        printTable("CPU time per call", &Times::cpu);
    }

private:
    struct Times {
        double wall;
        double cpu;
    };
    std::map<std::string, Times> seconds_; // per call

    void printTable(const char* title, double Times::*measure) const {
        std::printf("\n%s (us)\n%8s %12s %12s %6s %14s %6s\n", title, "projects", "readState",
                    "floor", "ratio", "floor+parse", "ratio");
        for (const char* size : {"10", "1000", "10000"}) {
            const auto read = seconds_.find(std::string("BM_ReadState/") + size);
            const auto floor = seconds_.find(std::string("BM_Floor/") + size);
            const auto parse = seconds_.find(std::string("BM_FloorAndParse/") + size);
            if (read == seconds_.end() || floor == seconds_.end() || parse == seconds_.end())
                continue;
            const double r = read->second.*measure;
            const double f = floor->second.*measure;
            const double p = parse->second.*measure;
            std::printf("%8s %12.1f %12.1f %6.2f %14.1f %6.2f\n", size, r * 1e6, f * 1e6, r / f,
                        p * 1e6, r / p);
        }
    }
};

} // namespace

// Runs each case five times, interleaved in random order so that a burst of load on the machine
// does not fall on one side only; command-line flags override these defaults.
int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    char repetitions[] = "--benchmark_repetitions=5";
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    char aggregatesOnly[] = "--benchmark_report_aggregates_only=false";
    args.insert(args.begin() + 1, {repetitions, interleave, aggregatesOnly});
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
