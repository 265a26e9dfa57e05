// The keyboard exchanges end to end: a complete list, and sending and importing a song that fills
// the song memory (21504 bytes, 168 blocks), through the real ports and the Qt event loop.
//
// Against the built-in virtual ZR-7316 (default):
//   - with no latency, the time is the host's overhead (the keyboard's model answers from the
//     event loop at once; its own share is included, so the figure is an upper bound);
//   - with wire-speed pacing, the time is compared with the time every message of the exchange
//     needs on a 31250-baud wire (320 us per byte, both directions), taken from the bytes the
//     keyboard actually received and sent.
// Against a system device (--kbx_device=NAME, e.g. `kbxtool emulate` on JACK): the time per
// exchange against the JACK period (--kbx_period_us).
//
// Every figure carries its reference as a counter: wire_ms or period_ms, and x_* the ratio of
// the measured time to it and to the target.
#include "kbxfilestream.h"
#include "kbxmidistream.h"
#include "mididevices.h"
#include "ops/history.h"
#include "ops/keyboard.h"
#include "rtmidisupport.h"
#include "virtualzr7316.h"
#include "zxdata.h"
#include "zxexception.h"
#include "zxkbddrv.h"
#include "zxmidi.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kSongBytes = VirtualZr7316::kSongMemory; // 168 blocks of 128 bytes
constexpr double kWireMsPerByte = 0.320;                         // 10 bits at 31250 baud
constexpr double kListTargetMs = 5.0;
constexpr double kTransferTargetMs = 30.0;
constexpr double kWireTargetRatio = 1.03;

struct Setup {
    int in = 0;
    int out = 0;
    std::string label = "virtual";
    bool system = false; // a system device: the keyboard's model is not in this process
    double periodMs = 128.0 / 48.0;
};
Setup g_setup;

// What one operation puts on the wire, counted on the in-process keyboard.
struct WireCount {
    std::size_t toKeyboard = 0;   // messages
    std::size_t fromKeyboard = 0; // messages (replies: one per exchange)
    std::size_t bytes = 0;        // both directions
    std::string breakdown;        // "to keyboard: 168 x type 4 of 207 bytes, ..."
    double ms() const { return static_cast<double>(bytes) * kWireMsPerByte; }
};

VirtualZr7316& keyboard() {
    return kbxmidi::DeviceRegistry::instance().virtualKeyboard();
}

// Messages by type and length, in order of first appearance: "168 x type 4 (207 bytes)".
std::string describe(const std::vector<Bytes>& log) {
    std::vector<std::pair<std::pair<int, std::size_t>, int>> groups;
    for (const auto& m : log) {
        const std::pair<int, std::size_t> key{m.size() > 5 ? m[5] >> 4 : -1, m.size()};
        auto it = std::find_if(groups.begin(), groups.end(),
                               [&](const auto& g) { return g.first == key; });
        if (it == groups.end())
            groups.push_back({key, 1});
        else
            ++it->second;
    }
    std::string text;
    for (const auto& [key, n] : groups)
        text += (text.empty() ? "" : ", ") + std::to_string(n) + " x type " +
                std::to_string(key.first) + " (" + std::to_string(key.second) + " bytes)";
    return text;
}

WireCount countLog(const VirtualZr7316& kb) {
    WireCount count;
    count.toKeyboard = kb.received().size();
    count.fromKeyboard = kb.sent().size();
    for (const auto& m : kb.received())
        count.bytes += m.size();
    for (const auto& m : kb.sent())
        count.bytes += m.size();
    count.breakdown =
        "to keyboard: " + describe(kb.received()) + "; from keyboard: " + describe(kb.sent());
    return count;
}

ZxKbdDrv& drive() {
    return ZxKbdDrv::instance(ZxKbdDrv::kKnownModel);
}

ZxData& songSlot(int number) {
    ZxDataDrive* top = drive().folderByName("Song Rhythm:");
    if (!top)
        throw std::runtime_error("the drive has no folder \"Song Rhythm:\"");
    for (int c = 0; c < top->childCount(); ++c) {
        ZxData* sub = top->child(c);
        if (!(sub->attributes() & ZxAttr::Directory) || sub->kind() != ZxKind::Song)
            continue;
        auto* folder = static_cast<ZxDataDrive*>(sub);
        for (int s = 0; s < folder->childCount(); ++s)
            if (folder->child(s)->number() == number)
                return *folder->child(s);
    }
    throw std::runtime_error("no song slot " + std::to_string(number));
}

// A song of `size` bytes, different from block to block, named at the song's name offset.
std::unique_ptr<ZxDataFile> makeSong(std::uint32_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 128) & 0x7F);
    const int offset = ZxKind::nameOffset(ZxKind::Song);
    const char name[] = "BENCHSNG";
    for (std::size_t i = 0; offset >= 0 && i < 8; ++i)
        bytes[static_cast<std::size_t>(offset) + i] = static_cast<std::uint8_t>(name[i]);
    auto item = std::make_unique<ZxDataFile>(ZxKind::Song);
    item->payload().assign((bytes.size() + 1) / 2, 0);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        item->payload()[i / 2] |= static_cast<std::uint16_t>(bytes[i] << (i % 2 ? 0 : 8));
    item->setSize(size);
    item->refreshName();
    return item;
}

// Song memory empty: no songs, no rhythms. The in-process keyboard is set directly; a system
// device is told through the drive.
void emptySongMemory() {
    if (!g_setup.system) {
        keyboard().wipe();
        drive().readList(g_setup.in, g_setup.out);
        return;
    }
    drive().readList(g_setup.in, g_setup.out);
    ZxDataDrive* top = drive().folderByName("Song Rhythm:");
    for (int c = 0; top && c < top->childCount(); ++c) {
        auto* sub = static_cast<ZxDataDrive*>(top->child(c));
        for (int s = 0; s < sub->childCount(); ++s)
            drive().deleteItem(*sub->child(s));
    }
    drive().readList(g_setup.in, g_setup.out);
}

// The time between two blocks of a transfer: one exchange (a block and its handshake), without
// opening and closing the ports around the transfer.
class BlockClock : public KbxStreamObserver {
public:
    void update(KbxStream&) override {
        const auto now = Clock::now();
        if (m_started)
            m_intervalsMs.push_back(
                std::chrono::duration<double, std::milli>(now - m_last).count());
        m_last = now;
        m_started = true;
    }
    void restart() { m_started = false; }
    void clear() {
        m_intervalsMs.clear();
        m_started = false;
    }
    double median() const {
        if (m_intervalsMs.empty())
            return 0;
        std::vector<double> sorted = m_intervalsMs;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
    double percentile90() const {
        if (m_intervalsMs.empty())
            return 0;
        std::vector<double> sorted = m_intervalsMs;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() * 9 / 10];
    }

private:
    std::vector<double> m_intervalsMs;
    Clock::time_point m_last;
    bool m_started = false;
};
BlockClock g_blockClock;

void sendSong(ZxDataFile& song) {
    KbxMidiStream stream(songSlot(0), g_setup.in, g_setup.out);
    g_blockClock.restart();
    stream.attach(&g_blockClock);
    stream.write(song);
}

void importSong(ZxDataFile& into) {
    KbxMidiStream stream(songSlot(0), g_setup.in, g_setup.out);
    g_blockClock.restart();
    stream.attach(&g_blockClock);
    stream.read(into);
    if (into.size() != kSongBytes)
        throw std::runtime_error("imported " + std::to_string(into.size()) + " bytes");
}

void setWireSpeed(bool on) {
    if (g_setup.system)
        return;
    VirtualZr7316::Faults faults;
    faults.wireSpeed = on;
    keyboard().setFaults(faults);
}

// Counts what the operation exchanges with the in-process keyboard (which always exists, also
// when the benchmark talks to a system device), run once with no latency.
WireCount countOnce(const std::function<void(int, int)>& prepare,
                    const std::function<void(int, int)>& operation) {
    // The virtual keyboard alone, so that its numbers cannot shift while a system's list
    // changes (on JACK our own ports come and go).
    auto& registry = kbxmidi::DeviceRegistry::instance();
    const bool system = registry.systemDevicesEnabled();
    registry.setSystemDevicesEnabled(false);
    const int in = registry.virtualInputNumber();
    const int out = registry.virtualOutputNumber();
    VirtualZr7316& kb = keyboard();
    kb.setFaults({});
    WireCount count;
    try {
        prepare(in, out);
        kb.clearLog();
        operation(in, out);
        count = countLog(kb);
    } catch (...) {
        registry.setSystemDevicesEnabled(system);
        throw;
    }
    registry.setSystemDevicesEnabled(system);
    return count;
}

WireCount listCount() {
    static const WireCount count = countOnce(
        [](int in, int out) {
            keyboard().factoryReset();
            drive().readList(in, out);
        },
        [](int in, int out) { drive().readList(in, out); });
    return count;
}

WireCount freeMemoryCount() {
    static const WireCount count =
        countOnce([](int, int) {}, [](int, int) { drive().freeSongMemory(); });
    return count;
}

WireCount sendCount() {
    static const WireCount count = countOnce(
        [](int in, int out) {
            // As in every timed round: the drive lists the previous song, the memory is free.
            keyboard().wipe();
            drive().readList(in, out);
            KbxMidiStream(songSlot(0), in, out).write(*makeSong(kSongBytes));
            keyboard().setItemBytes(ZxKind::Song, 0, 0, {});
        },
        [](int in, int out) { KbxMidiStream(songSlot(0), in, out).write(*makeSong(kSongBytes)); });
    return count;
}

WireCount importCount() {
    static const WireCount count = countOnce(
        [](int in, int out) {
            keyboard().wipe();
            keyboard().setItemBytes(ZxKind::Song, 0, 0, Bytes(kSongBytes, 0x11));
            drive().readList(in, out);
        },
        [](int in, int out) {
            ZxDataFile item(ZxKind::Song);
            KbxMidiStream(songSlot(0), in, out).read(item);
        });
    return count;
}

// Time of one free-memory request with opening and closing the ports around it, once measured
// (BM_FreeMemory runs first): on JACK, opening the ports costs far more than an exchange.
double g_openExchangeCloseMs = 0;

// opens: how often the operation opens and closes the ports (the drive's link or a stream):
// a list 1; a send 4 (free memory, delete, the transfer, free memory again); an import 1.
void report(benchmark::State& state, double totalMs, const WireCount& wire, double targetMs,
            bool paced, int opens) {
    if (state.iterations() == 0)
        return;
    const double iterations = static_cast<double>(state.iterations());
    const double perOp = totalMs / iterations;
    const double exchanges = static_cast<double>(wire.fromKeyboard);
    const double blockMs = g_blockClock.median();
    if (blockMs > 0) {
        // One block's exchange inside a transfer: the median and 90th percentile.
        state.counters["block_ms_med"] = blockMs;
        state.counters["block_ms_p90"] = g_blockClock.percentile90();
        if (g_setup.system)
            state.counters["x_period_block"] = blockMs / g_setup.periodMs;
    }
    state.counters["exchanges"] = static_cast<double>(wire.fromKeyboard);
    state.counters["msgs_to_kbd"] = static_cast<double>(wire.toKeyboard);
    state.counters["wire_bytes"] = static_cast<double>(wire.bytes);
    state.counters["wire_ms"] = wire.ms();
    state.counters["x_wire"] = perOp / wire.ms();
    if (g_setup.system) {
        state.counters["ms_per_exch"] = perOp / exchanges;
        state.counters["period_ms"] = g_setup.periodMs;
        state.counters["x_period"] = perOp / exchanges / g_setup.periodMs;
        // Without the cost of opening and closing the ports, estimated from one free-memory
        // request; only where the ports open once (a list, an import), as that cost varies.
        if (g_openExchangeCloseMs > 0 && opens == 1 && exchanges > opens) {
            const double net = (perOp - opens * g_openExchangeCloseMs) / (exchanges - opens);
            state.counters["net_ms_per_exch"] = net;
            state.counters["x_period_net"] = net / g_setup.periodMs;
        }
    } else if (paced) {
        // Only the time beyond the wire is the host's; the target bounds the ratio.
        state.counters["over_wire_ms"] = perOp - wire.ms();
        state.counters["x_target"] = (perOp / wire.ms()) / kWireTargetRatio;
    } else {
        state.counters["us_per_exch"] = perOp * 1000.0 / exchanges;
        if (targetMs > 0) {
            state.counters["target_ms"] = targetMs;
            state.counters["x_target"] = perOp / targetMs;
        }
    }
}

// The failure as text: the program's own exceptions carry only a class and a code.
std::string failureText() {
    try {
        throw;
    } catch (const ZxSysExException& e) {
        return "ZxSysExException " + std::to_string(e.code());
    } catch (const ZxKbdDrvException& e) {
        return "ZxKbdDrvException " + std::to_string(e.code());
    } catch (const KbxStreamException& e) {
        return "KbxStreamException " + std::to_string(e.code());
    } catch (const ZxException& e) {
        return "ZxException " + std::to_string(e.code());
    } catch (const std::exception& e) {
        return e.what();
    }
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Device numbers are positions in the current list: when a system's list comes back short (a
// JACK client that did not start lists nothing), the number may name the in-process keyboard.
// Such a round measured the wrong device.
void checkNotInProcess() {
    if (!g_setup.system || keyboard().received().empty())
        return;
    keyboard().clearLog();
    throw std::runtime_error("the exchange went to the in-process keyboard");
}

// A system device's failures are counted and the step (which must be repeatable) is tried again (on
// JACK a client now and then fails to start, see docs/performance.md); with the in-process keyboard
// every failure is an error.
constexpr int kAttempts = 4;
int g_failedAttempts = 0;
std::string g_lastFailure;

template <class F>
auto retrying(F&& step) -> decltype(step()) {
    for (int attempt = 1;; ++attempt) {
        try {
            if constexpr (std::is_void_v<decltype(step())>) {
                step();
                checkNotInProcess();
                return;
            } else {
                auto result = step();
                checkNotInProcess();
                return result;
            }
        } catch (...) {
            if (!g_setup.system || attempt == kAttempts)
                throw;
            ++g_failedAttempts;
            g_lastFailure = failureText();
        }
    }
}

// Runs the benchmark's rounds: `before` untimed, then `operation` timed. Returns the total
// time in milliseconds of the timed parts.
double runRounds(benchmark::State& state, const std::function<void()>& before,
                 const std::function<void()>& operation) {
    double totalMs = 0;
    g_failedAttempts = 0;
    g_lastFailure.clear();
    g_blockClock.clear();
    try {
        for (auto _ : state) {
            const double ms = retrying([&] {
                before();
                const auto start = Clock::now();
                operation();
                return msSince(start);
            });
            state.SetIterationTime(ms / 1000.0);
            totalMs += ms;
        }
    } catch (...) {
        state.SkipWithError(failureText().c_str());
    }
    if (g_setup.system) {
        state.counters["failed_attempts"] = g_failedAttempts;
        if (g_failedAttempts)
            std::fprintf(stderr, "%d failed attempts, the last: %s\n", g_failedAttempts,
                         g_lastFailure.c_str());
    }
    return totalMs;
}

void BM_List(benchmark::State& state, bool paced) {
    const WireCount wire = listCount();
    if (!g_setup.system)
        keyboard().factoryReset();
    setWireSpeed(paced);
    const double totalMs = runRounds(
        state, [] {}, [] { drive().readList(g_setup.in, g_setup.out); });
    setWireSpeed(false);
    report(state, totalMs, wire, kListTargetMs, paced, 1);
}

// One exchange with everything around it: the drive opens the ports, asks for the free song
// memory and closes them. The list's time less this, per further exchange, is the cost of an
// exchange alone.
void BM_FreeMemory(benchmark::State& state, bool paced) {
    const WireCount wire = freeMemoryCount();
    double totalMs = 0;
    try {
        // The drive asks the devices of its last list.
        retrying([] { drive().readList(g_setup.in, g_setup.out); });
        setWireSpeed(paced);
        totalMs = runRounds(
            state, [] {}, [] { benchmark::DoNotOptimize(drive().freeSongMemory()); });
    } catch (...) {
        state.SkipWithError(failureText().c_str());
    }
    setWireSpeed(false);
    if (state.iterations() > 0)
        g_openExchangeCloseMs = totalMs / static_cast<double>(state.iterations());
    report(state, totalMs, wire, 0, paced, 1);
}

// Opening and closing the pair of ports alone, as every drive operation and every transfer does
// around its messages: the input, then the output; the output, then the input. On JACK the
// reference is the period; clients_per_round counts the JACK clients each round made.
void BM_OpenClosePair(benchmark::State& state) {
    ZxMidiIn in;
    ZxMidiOut out;
    std::vector<double> rounds;
    std::vector<double> steps[3]; // time from the start to the end of each step but the last
    unsigned clients = 0;
    try {
        retrying([&] { // the first opening makes the clients that are kept; untimed
            in.open(g_setup.in);
            out.open(g_setup.out);
            out.close();
            in.close();
        });
        clients = kbxmidi::systemClientsCreated();
        for (auto _ : state) {
            const double ms = retrying([&] {
                const auto start = Clock::now();
                in.open(g_setup.in);
                steps[0].push_back(msSince(start));
                out.open(g_setup.out);
                steps[1].push_back(msSince(start));
                out.close();
                steps[2].push_back(msSince(start));
                in.close();
                return msSince(start);
            });
            rounds.push_back(ms);
            state.SetIterationTime(ms / 1000.0);
        }
    } catch (...) {
        state.SkipWithError(failureText().c_str());
        return;
    }
    const auto medianOf = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0 : v[v.size() / 2];
    };
    // Where the time goes: the median of each step's own share.
    std::vector<double> last(rounds.size());
    for (std::size_t i = 0; i < rounds.size() && i < steps[2].size(); ++i)
        last[i] = rounds[i] - steps[2][i];
    for (int k = 2; k > 0; --k)
        for (std::size_t i = 0; i < steps[k].size(); ++i)
            steps[k][i] -= steps[k - 1][i];
    state.counters["in_open_ms"] = medianOf(steps[0]);
    state.counters["out_open_ms"] = medianOf(steps[1]);
    state.counters["out_close_ms"] = medianOf(steps[2]);
    state.counters["in_close_ms"] = medianOf(last);
    std::sort(rounds.begin(), rounds.end());
    const double median = rounds.empty() ? 0 : rounds[rounds.size() / 2];
    state.counters["pair_ms_med"] = median;
    state.counters["pair_ms_p90"] = rounds.empty() ? 0 : rounds[rounds.size() * 9 / 10];
    state.counters["period_ms"] = g_setup.periodMs;
    state.counters["x_period_med"] = median / g_setup.periodMs;
    state.counters["clients_per_round"] =
        state.iterations() ? static_cast<double>(kbxmidi::systemClientsCreated() - clients) /
                                 static_cast<double>(state.iterations())
                           : 0;
}

void BM_SendSong(benchmark::State& state, bool paced) {
    const WireCount wire = sendCount();
    double totalMs = 0;
    try {
        auto song = makeSong(kSongBytes);
        retrying([&] { // untimed: every timed round then meets the same state
            emptySongMemory();
            sendSong(*song);
        });
        totalMs = runRounds(
            state,
            [&] {
                // The song of the previous round still fills the memory, and write() checks
                // the free memory before it deletes the old song: empty it outside the timing.
                // The drive still lists the slot, so write() deletes it again, as in the count.
                if (g_setup.system) {
                    drive().deleteItem(songSlot(0));
                } else {
                    keyboard().setItemBytes(ZxKind::Song, 0, 0, {});
                    setWireSpeed(paced);
                }
            },
            [&] {
                sendSong(*song);
                setWireSpeed(false);
            });
        if (!g_setup.system && keyboard().itemBytes(ZxKind::Song, 0).size() != kSongBytes)
            state.SkipWithError("the keyboard did not keep the song");
    } catch (...) {
        state.SkipWithError(failureText().c_str());
    }
    setWireSpeed(false);
    report(state, totalMs, wire, kTransferTargetMs, paced, 4);
}

void BM_ImportSong(benchmark::State& state, bool paced) {
    const WireCount wire = importCount();
    double totalMs = 0;
    try {
        auto song = makeSong(kSongBytes);
        retrying([&] {
            emptySongMemory();
            sendSong(*song);
            drive().readList(g_setup.in, g_setup.out);
        });
        setWireSpeed(paced);
        totalMs = runRounds(
            state, [] {},
            [&] {
                ZxDataFile item(ZxKind::Song);
                importSong(item);
                if (item.payload() != song->payload())
                    throw std::runtime_error("the imported song differs from the one sent");
            });
    } catch (...) {
        state.SkipWithError(failureText().c_str());
    }
    setWireSpeed(false);
    report(state, totalMs, wire, kTransferTargetMs, paced, 1);
}

// The song that a replacement finds in the slot in round n: other bytes than the benchmark's
// song, and other from round to round, so that every round keeps a file of its own.
Bytes oldSongBytes(int round) {
    Bytes bytes(kSongBytes);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 3 + static_cast<std::size_t>(round)) & 0x7F);
    const char name[] = "OLD SONG";
    for (std::size_t i = 0; i < 8; ++i)
        bytes[static_cast<std::size_t>(ZxKind::nameOffset(ZxKind::Song)) + i] =
            static_cast<std::uint8_t>(name[i]);
    return bytes;
}

// A song that fills the memory replaces one that fills it (it fits because the old one is
// deleted first), through the use case as the programs run it: with the safety net keeping the
// old song first (its data request, blocks and handshakes, the file and the row), or without.
// What keeping adds is set against the wire time of the snapshot's messages, which are an
// import's.
// When the send proper begins: everything before it in a replacement with the safety net is the
// snapshot (the old song's read, its file and the history's row).
class SendStart : public kbxops::Progress {
public:
    void begin(const kbxops::Step& step) override {
        if (step.kind == kbxops::Step::Send && !m_seen) {
            m_seen = true;
            m_at = Clock::now();
        }
    }
    void advanceTo(std::uint32_t) override {}
    void end() override {}
    void reset() { m_seen = false; }
    Clock::time_point at() const { return m_at; }

private:
    bool m_seen = false;
    Clock::time_point m_at;
};

void BM_ReplaceSong(benchmark::State& state, bool paced, bool kept) {
    const WireCount send = sendCount();
    const WireCount snapshot = importCount();
    // A history of its own for each run: Google Benchmark runs a benchmark more than once.
    static QTemporaryDir folder;
    static int runs = 0;
    kbxops::History history(folder.filePath(QStringLiteral("history-%1").arg(++runs)));
    double totalMs = 0;
    double snapshotMs = 0;
    int round = 0;
    SendStart sendStart;
    try {
        auto song = makeSong(kSongBytes);
        totalMs = runRounds(
            state,
            [&] {
                setWireSpeed(false);
                keyboard().wipe();
                keyboard().setItemBytes(ZxKind::Song, 0, 0, oldSongBytes(round++));
                drive().readList(g_setup.in, g_setup.out);
                setWireSpeed(paced);
            },
            [&] {
                sendStart.reset();
                const auto start = Clock::now();
                kbxops::Keyboard kbd(drive(), {g_setup.in, g_setup.out}, &sendStart,
                                     kbxops::Safety{kept ? &history : nullptr, false, false});
                kbd.send(*song, songSlot(0), kbxops::Change{kbxops::Operation::Send});
                snapshotMs +=
                    std::chrono::duration<double, std::milli>(sendStart.at() - start).count();
                setWireSpeed(false);
            });
        if (keyboard().itemBytes(ZxKind::Song, 0).size() != kSongBytes)
            state.SkipWithError("the keyboard did not keep the song");
        if (kept && history.entries().size() != static_cast<std::size_t>(round))
            state.SkipWithError("not every round kept the old song");
    } catch (...) {
        state.SkipWithError(failureText().c_str());
    }
    setWireSpeed(false);
    if (state.iterations() == 0)
        return;
    const double perOp = totalMs / static_cast<double>(state.iterations());
    const double wireMs = send.ms() + (kept ? snapshot.ms() : 0);
    state.counters["wire_ms"] = wireMs;
    state.counters["wire_bytes"] = static_cast<double>(send.bytes + (kept ? snapshot.bytes : 0));
    state.counters["snapshot_wire_ms"] = snapshot.ms();
    state.counters["x_wire"] = perOp / wireMs;
    if (kept) {
        // The snapshot on its own, up to the start of the send proper.
        const double perSnapshot = snapshotMs / static_cast<double>(state.iterations());
        state.counters["snapshot_ms"] = perSnapshot;
        state.counters["x_snapshot_wire"] = perSnapshot / snapshot.ms();
    }
}

int findDevice(const std::vector<std::string>& names, const std::string& wanted) {
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] != kbxmidi::kVirtualDeviceName && names[i].find(wanted) != std::string::npos)
            return static_cast<int>(i);
    std::string all;
    for (const auto& n : names)
        all += "\n  " + n;
    throw std::runtime_error("no MIDI device named like \"" + wanted + "\" among:" + all);
}

void registerBenchmarks() {
    const std::string s = "/" + g_setup.label;
    if (g_setup.system)
        benchmark::RegisterBenchmark(("BM_OpenClosePair" + s).c_str(), BM_OpenClosePair)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->Iterations(100);
    auto* one = benchmark::RegisterBenchmark(("BM_FreeMemory" + s).c_str(), BM_FreeMemory, false);
    auto* list = benchmark::RegisterBenchmark(("BM_List" + s).c_str(), BM_List, false);
    auto* send = benchmark::RegisterBenchmark(("BM_SendSong21504" + s).c_str(), BM_SendSong, false);
    auto* import =
        benchmark::RegisterBenchmark(("BM_ImportSong21504" + s).c_str(), BM_ImportSong, false);
    for (auto* b : {one, list, send, import})
        b->Unit(benchmark::kMillisecond)->UseManualTime();
    if (g_setup.system) {
        one->Iterations(20);
        list->Iterations(20);
        send->Iterations(3);
        import->Iterations(3);
        return;
    }
    // Paced at 31250 baud: about 11 s per transfer, so few rounds.
    benchmark::RegisterBenchmark("BM_List/wire", BM_List, true)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(3);
    benchmark::RegisterBenchmark("BM_SendSong21504/wire", BM_SendSong, true)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(2);
    benchmark::RegisterBenchmark("BM_ImportSong21504/wire", BM_ImportSong, true)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(2);
    // The safety net's snapshot: the same replacement without and with the old song kept.
    for (const bool paced : {false, true}) {
        for (const bool kept : {false, true}) {
            const std::string name = std::string("BM_ReplaceSong21504/") +
                                     (kept ? "kept" : "plain") + (paced ? "/wire" : "/virtual");
            auto* b = benchmark::RegisterBenchmark(name.c_str(), BM_ReplaceSong, paced, kept);
            b->Unit(benchmark::kMillisecond)->UseManualTime();
            if (paced)
                b->Iterations(2);
        }
    }
}

// Our own flags, taken out of argv before Google Benchmark sees it.
std::string takeFlag(int& argc, char** argv, const char* name) {
    const std::string prefix = std::string("--") + name + "=";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) != 0)
            continue;
        std::string value = argv[i] + prefix.size();
        for (int j = i; j + 1 < argc; ++j)
            argv[j] = argv[j + 1];
        --argc;
        return value;
    }
    return {};
}

} // namespace

int main(int argc, char** argv) {
    const std::string device = takeFlag(argc, argv, "kbx_device");
    const std::string label = takeFlag(argc, argv, "kbx_label");
    const std::string period = takeFlag(argc, argv, "kbx_period_us");
    const std::string songFile = takeFlag(argc, argv, "kbx_write_song");
    if (!songFile.empty()) {
        // The benchmark's song as a data file, for timing kbxtool send.
        QCoreApplication app(argc, argv);
        KbxFileStream(QString::fromStdString(songFile), 0xFFFF).write(*makeSong(kSongBytes));
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    // The ports and the keyboard's replies ride the event loop, as in the programs.
    QCoreApplication app(argc, argv);

    auto& registry = kbxmidi::DeviceRegistry::instance();
    keyboard().setStateFile(QString()); // memory only: nothing of the user's is touched
    try {
        if (device.empty()) {
            registry.setSystemDevicesEnabled(false);
            g_setup.in = registry.virtualInputNumber();
            g_setup.out = registry.virtualOutputNumber();
        } else {
            registry.setSystemDevicesEnabled(true);
            g_setup.system = true;
            g_setup.label = label.empty() ? "system" : label;
            retrying([&] {
                g_setup.in = findDevice(registry.inputNames(), device);
                g_setup.out = findDevice(registry.outputNames(), device);
            });
            if (!period.empty())
                g_setup.periodMs = std::stod(period) / 1000.0;
            std::fprintf(stderr, "device: in %d \"%s\", out %d \"%s\"\n", g_setup.in,
                         registry.inputNames()[static_cast<std::size_t>(g_setup.in)].c_str(),
                         g_setup.out,
                         registry.outputNames()[static_cast<std::size_t>(g_setup.out)].c_str());
        }
        // The counts come from the in-process keyboard before any timing starts.
        for (const auto& [what, count] :
             {std::pair{"free-memory request", freeMemoryCount()}, std::pair{"list", listCount()},
              std::pair{"send", sendCount()}, std::pair{"import", importCount()}})
            std::fprintf(stderr, "wire of one %s: %zu bytes = %.2f ms; %s\n", what, count.bytes,
                         count.ms(), count.breakdown.c_str());
        if (g_setup.system) {
            keyboard().wipe();
            keyboard().clearLog();
        }
    } catch (...) {
        std::fprintf(stderr, "bench_keyboard: %s\n", failureText().c_str());
        return 1;
    }
    registerBenchmarks();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
