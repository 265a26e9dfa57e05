// Codec throughput on full data blocks (207 bytes each), against the MIDI wire's 3125 bytes/s.
#include "zxsysex.h"

#include <benchmark/benchmark.h>

namespace {

constexpr double kWireBytesPerSecond = 31250.0 / 10.0; // 10 bits per byte on the wire

void BM_EncodeDecodeFullBlock(benchmark::State& state) {
    std::vector<std::uint16_t> words(64);
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<std::uint16_t>(i * 2654435761u);
    ZxSysExAddress address{10, 128, 0, &words};
    ZxSysExEncoder encoder;
    encoder.setModelCode(kModelCode);
    encoder.setFixedByte(kFixedByte);
    encoder.setType(ZxSysExType::DataBlock);
    encoder.setAddress(address);
    encoder.setBlockNumber(0);
    encoder.setBlockLength(128);
    ZxSysExDecoder decoder;
    ZxSysExAddress received;
    decoder.setAddress(received);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(kLongestMessage);
    for (auto _ : state) {
        bytes.clear();
        encoder.encode(bytes);
        decoder.decode(bytes);
        benchmark::DoNotOptimize(decoder.words().data());
    }
    const double bytesDone = static_cast<double>(state.iterations()) * kLongestMessage;
    state.SetBytesProcessed(static_cast<std::int64_t>(bytesDone));
    state.counters["x_wire"] =
        benchmark::Counter(bytesDone / kWireBytesPerSecond, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EncodeDecodeFullBlock);

} // namespace

BENCHMARK_MAIN();
