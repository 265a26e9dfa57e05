// The whole keyboard at wire speed: a full backup and a full restore of a keyboard whose song
// memory is full (factory tones, DSP settings and registrations, its songs and rhythms, and one
// song that takes what is left), against the virtual keyboard paced at 31250 baud in both
// directions. Each figure is set beside the time every message of the job needs on the wire
// (320 us per byte, both directions, counted from what the keyboard received and sent in an
// unpaced run of the same job): x_wire is the ratio, x_target the ratio over the 2 % allowed.
#include "mididevices.h"
#include "ops/applyplan.h"
#include "ops/backup.h"
#include "ops/restoreplan.h"
#include "virtualzr7316.h"
#include "zxkbddrv.h"
#include "zxkinds.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <functional>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kWireMsPerByte = 0.320;
constexpr double kWireTargetRatio = 1.02;

VirtualZr7316& keyboard() {
    return kbxmidi::DeviceRegistry::instance().virtualKeyboard();
}

ZxKbdDrv& drive() {
    return ZxKbdDrv::instance(ZxKbdDrv::kKnownModel);
}

kbxops::Devices devices() {
    auto& registry = kbxmidi::DeviceRegistry::instance();
    return {registry.virtualInputNumber(), registry.virtualOutputNumber()};
}

// Factory contents, with the free song memory filled by a song in the first empty song slot.
void fillKeyboard() {
    VirtualZr7316& kb = keyboard();
    kb.setFaults({});
    kb.factoryReset();
    for (int i = 0; i < VirtualZr7316::kSongs; ++i) {
        if (!kb.itemBytes(ZxKind::Song, i).empty())
            continue;
        std::vector<std::uint8_t> bytes(kb.freeMemory());
        for (std::size_t b = 0; b < bytes.size(); ++b)
            bytes[b] = static_cast<std::uint8_t>((b * 7 + b / 128) & 0x7F);
        const int offset = ZxKind::nameOffset(ZxKind::Song);
        const char name[] = "FULLSONG";
        for (std::size_t c = 0; offset >= 0 && c < 8; ++c)
            bytes[static_cast<std::size_t>(offset) + c] = static_cast<std::uint8_t>(name[c]);
        kb.setItemBytes(ZxKind::Song, i, 0, bytes);
        break;
    }
}

double wireMs(const VirtualZr7316& kb) {
    std::size_t bytes = 0;
    for (const auto& m : kb.received())
        bytes += m.size();
    for (const auto& m : kb.sent())
        bytes += m.size();
    return static_cast<double>(bytes) * kWireMsPerByte;
}

void setWireSpeed(bool on) {
    VirtualZr7316::Faults faults;
    faults.wireSpeed = on;
    keyboard().setFaults(faults);
}

// Runs the job once unpaced to count its wire time, then timed at wire speed; before() is
// untimed and unpaced.
void measure(benchmark::State& state, const std::function<void()>& before,
             const std::function<void()>& job) {
    double wire = 0;
    double totalMs = 0;
    try {
        before();
        keyboard().clearLog();
        job();
        wire = wireMs(keyboard());
        for (auto _ : state) {
            before();
            setWireSpeed(true);
            const auto start = Clock::now();
            job();
            const double ms =
                std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            setWireSpeed(false);
            state.SetIterationTime(ms / 1000.0);
            totalMs += ms;
        }
    } catch (const std::exception& error) {
        setWireSpeed(false);
        state.SkipWithError(error.what());
        return;
    }
    const double perOp = totalMs / static_cast<double>(state.iterations());
    state.counters["wire_ms"] = wire;
    state.counters["over_wire_ms"] = perOp - wire;
    state.counters["x_wire"] = perOp / wire;
    state.counters["x_target"] = perOp / wire / kWireTargetRatio;
}

void BM_FullBackup(benchmark::State& state) {
    QTemporaryDir root;
    int n = 0;
    QString dir;
    measure(
        state,
        [&] {
            fillKeyboard();
            dir = root.filePath(QStringLiteral("b%1").arg(n++));
        },
        [&] {
            kbxops::Keyboard kb(drive(), devices());
            if (!kbxops::backupKeyboard(kb, dir).complete)
                throw std::runtime_error("backup incomplete");
        });
}

void BM_FullRestore(benchmark::State& state) {
    QTemporaryDir root;
    const QString dir = root.filePath(QStringLiteral("backup"));
    const MsgStr messages(1033);
    kbxops::RestorePlan plan;
    try {
        fillKeyboard();
        kbxops::Keyboard kb(drive(), devices());
        kbxops::backupKeyboard(kb, dir);
        // Every slot, as a restore with "send them anyway" ticked: the whole memory travels.
        plan = kbxops::planRestore(kb, dir, true);
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
        return;
    }
    measure(
        state, [] { keyboard().wipe(); },
        [&] {
            kbxops::Keyboard kb(drive(), devices());
            if (!kbxops::applyRestorePlan(kb, plan, messages).failed.empty())
                throw std::runtime_error("restore failed");
        });
}

} // namespace

BENCHMARK(BM_FullBackup)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);
BENCHMARK(BM_FullRestore)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    QCoreApplication app(argc, argv);
    auto& registry = kbxmidi::DeviceRegistry::instance();
    registry.setSystemDevicesEnabled(false);
    keyboard().setStateFile(QString()); // memory only
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
