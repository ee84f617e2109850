// Cost of App::refresh (read the state file, compose the menu, install it in the Qt menu) with
// 10, 100 and 1,000 existing projects, offscreen, against a floor measured in the same run:
// reading the state file's bytes and one stat per project path, which any refresh must do.
//
// Two refreshes are measured. The steady one is what the 15-second timer does when nothing has
// changed: the composed menu equals the installed one, so the Qt menu is left alone. The rebuild
// one makes every call install a different menu (a command is marked as running and then not, in
// turn), so each call also replaces every QAction, the project submenu's included.
//
// Prints Google Benchmark's table, then the medians of the repetitions and their ratio to the
// floor.
#include "app/app.h"
#include "app/app_probe.h"
#include "menu/compose.h"
#include "state/summary.h"
#include "state_fixture.h"
#include "tray/status_item.h"

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
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

StateFixture& fixture(int count) {
    return stateFixture(count);
}

// An App that reads the fixture's state directory.
AppSetup setupFor(const StateFixture& f) {
    AppSetup setup;
    setup.settings.stateDir = f.temp.path();
    return setup;
}

// Work the event loop would do between two refreshes (deferred deletes, posted layout requests);
// counted, so that a refresh cannot look cheap by leaving work behind.
void settle() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void BM_Floor(benchmark::State& state) {
    StateFixture& f = fixture(int(state.range(0)));
    for (auto _ : state) {
        QByteArray bytes = readBytes(f.stateFile.constData());
        benchmark::DoNotOptimize(bytes.data());
        benchmark::DoNotOptimize(existingProjects(f));
    }
}

// The pure half of a refresh: reading and composing, no Qt menu.
void BM_ReadCompose(benchmark::State& state) {
    const StateFixture& f = fixture(int(state.range(0)));
    for (auto _ : state) {
        MenuInputs inputs;
        inputs.summary = readState(f.temp.path());
        inputs.now = QDateTime::currentDateTimeUtc();
        Composition composition = compose(inputs);
        benchmark::DoNotOptimize(composition);
    }
}

void checkInstalled(App& app, int count) {
    QMenu* menu = AppProbe::item(&app)->qmenu();
    QMenu* projects = nullptr;
    for (QAction* action : menu->actions())
        if (action->menu())
            projects = action->menu();
    if (!projects || projects->actions().size() != count)
        std::abort();
}

void BM_Refresh(benchmark::State& state) {
    App app(setupFor(fixture(int(state.range(0)))));
    app.refresh();
    checkInstalled(app, int(state.range(0)));
    settle();
    for (auto _ : state) {
        app.refresh();
        settle();
    }
}

void BM_RefreshRebuild(benchmark::State& state) {
    App app(setupFor(fixture(int(state.range(0)))));
    app.refresh();
    checkInstalled(app, int(state.range(0)));
    settle();
    bool busy = false;
    for (auto _ : state) {
        busy = !busy;
        AppProbe::busy(&app) = busy ? Busy::Sync : Busy::None;
        app.refresh();
        settle();
    }
}

constexpr int sizes[] = {10, 100, 1000};

void sizesOf(benchmark::internal::Benchmark* b) {
    for (int size : sizes)
        b->Arg(size);
    b->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_Floor)->Apply(sizesOf);
BENCHMARK(BM_ReadCompose)->Apply(sizesOf);
BENCHMARK(BM_Refresh)->Apply(sizesOf);
BENCHMARK(BM_RefreshRebuild)->Apply(sizesOf);

// Prints the usual table, then per size the medians of the repeated runs and their ratio to the
// floor's median.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median")
                continue;
            // An aggregate's accumulated times divided by its iteration count (the number of
            // repetitions) are the per-call figures.
            const double n = run.iterations > 0 ? double(run.iterations) : 1.0;
            medians_[run.run_name.str()] = {run.real_accumulated_time / n,
                                            run.cpu_accumulated_time / n};
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        // Wall time is what the user waits; CPU time (the main thread's, system calls included)
        // is steadier on a busy machine.
        printTable("wall time per call, median", &Times::wall);
        printTable("CPU time per call, median", &Times::cpu);
    }

private:
    struct Times {
        double wall;
        double cpu;
    };
    std::map<std::string, Times> medians_; // seconds per call

    void printTable(const char* title, double Times::*measure) const {
        std::printf("\n%s (us)\n%8s %10s %12s %6s %12s %6s %14s %6s\n", title, "projects", "floor",
                    "read+compose", "ratio", "refresh", "ratio", "refresh+rebuild", "ratio");
        for (int size : sizes) {
            const std::string suffix = "/" + std::to_string(size);
            const auto floor = medians_.find("BM_Floor" + suffix);
            const auto pure = medians_.find("BM_ReadCompose" + suffix);
            const auto steady = medians_.find("BM_Refresh" + suffix);
            const auto rebuild = medians_.find("BM_RefreshRebuild" + suffix);
            if (floor == medians_.end() || pure == medians_.end() || steady == medians_.end() ||
                rebuild == medians_.end())
                continue;
            const double f = floor->second.*measure;
            const double p = pure->second.*measure;
            const double s = steady->second.*measure;
            const double r = rebuild->second.*measure;
            std::printf("%8d %10.1f %12.1f %6.1f %12.1f %6.1f %14.1f %6.1f\n", size, f * 1e6,
                        p * 1e6, p / f, s * 1e6, s / f, r * 1e6, r / f);
        }
    }
};

} // namespace

// Runs each case five times, interleaved in random order so that a burst of load on the machine
// does not fall on one side only; command-line flags override these defaults.
int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    std::vector<char*> args(argv, argv + argc);
    char repetitions[] = "--benchmark_repetitions=5";
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    char aggregatesOnly[] = "--benchmark_report_aggregates_only=true";
    args.insert(args.begin() + 1, {repetitions, interleave, aggregatesOnly});
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
