// What the MIDI monitor costs: the main window's "Get/Update List" (ConnectActionExecute) against
// the virtual keyboard with no latency, with the monitor closed (as it is by default) and open.
// Open, the time includes drawing the list's 108 lines, which the monitor does in batches after
// the messages; closed, the exchanges are not asked for anything. The reference is the closed
// case; the ratio is what opening the monitor adds. The list in the window is far more than its
// 54 exchanges (0.8 ms): the tree is rebuilt and the progress bar and status line repainted.
#include "errorreporter.h"
#include "mainform.h"
#include "midimonitor.h"
#include "settings.h"

#include <QAction>
#include <QApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

class QuietErrors : public ErrorReporter {
public:
    void showError(QWidget*, const QString& text) override {
        std::fprintf(stderr, "error box: %s\n", qPrintable(text));
        ++count;
    }
    int count = 0;
};

struct Fixture {
    QTemporaryDir temporary;
    std::unique_ptr<TPcLinkForm> form;
    QuietErrors errors;
};
Fixture* g_fixture = nullptr;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// One list: the action, the monitor's drawing of its lines, the repaints it asked for.
double timedList(TPcLinkForm& form) {
    const auto start = Clock::now();
    form.ConnectActionExecute();
    form.midiMonitor().flush();
    QApplication::processEvents();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Closed and open in turn, list by list, so that the load of a shared machine, which drifts
// over seconds, falls on both alike; medians of each.
void BM_WindowList(benchmark::State& state) {
    TPcLinkForm& form = *g_fixture->form;
    QAction* toggle = form.findChild<QAction*>(QStringLiteral("MidiMonitorAction"));
    if (!toggle) {
        state.SkipWithError("the window has no MidiMonitorAction");
        return;
    }
    const int errorsBefore = g_fixture->errors.count;
    std::vector<double> closed, open;
    for (auto _ : state) {
        if (toggle->isChecked())
            toggle->trigger();
        QApplication::processEvents();
        closed.push_back(timedList(form));
        toggle->trigger();
        QApplication::processEvents();
        const double ms = timedList(form);
        open.push_back(ms);
        state.SetIterationTime(ms / 1000.0);
    }
    if (toggle->isChecked())
        toggle->trigger();
    if (g_fixture->errors.count != errorsBefore)
        state.SkipWithError("a list failed");
    state.counters["closed_ms_med"] = median(closed);
    state.counters["open_ms_med"] = median(open);
    state.counters["x_closed"] = median(open) / median(closed);
    state.counters["monitor_lines"] = form.midiMonitor().lines().size();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("KBX_TEST", "1"); // the virtual keyboard only, no settings of the user's
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tovanel"));
    QApplication::setApplicationName(QStringLiteral("KbxMan"));

    Fixture fixture;
    g_fixture = &fixture;
    ErrorReporter::setInstance(&fixture.errors);
    try {
        if (!fixture.temporary.isValid())
            throw std::runtime_error("no temporary folder");
        KbxSettings::setDefaultStore(QSettings::IniFormat,
                                     fixture.temporary.filePath(QStringLiteral("KbxMan.ini")));
        KbxSettings().save(0, 0, fixture.temporary.path());
        fixture.form = std::make_unique<TPcLinkForm>();
        fixture.form->resize(1024, 768);
        fixture.form->show();
        QApplication::processEvents();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_monitor: %s\n", e.what());
        return 1;
    }

    // 200 lists each way: the monitor reaches its 10,000 lines, the most it draws and keeps.
    benchmark::RegisterBenchmark("BM_WindowList/monitor_open_vs_closed", BM_WindowList)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(200);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fixture.form.reset();
    ErrorReporter::setInstance(nullptr);
    return 0;
}
