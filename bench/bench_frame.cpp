// Throughput of the command frame reassembler and encoder.
#include "comm/commandframe.h"

#include <benchmark/benchmark.h>

namespace {

// A stream of back-to-back frames of the given whole size.
QByteArray stream(int frameSize, int totalBytes)
{
    const QByteArray frame =
        CommandFrame::encode(0x0152, QByteArray(frameSize - CommandFrame::kOverhead, 'a'));
    QByteArray bytes;
    while (bytes.size() + frame.size() <= totalBytes)
        bytes.append(frame);
    return bytes;
}

void BM_Reassemble(benchmark::State& state)
{
    const int frameSize = static_cast<int>(state.range(0));
    const QByteArray bytes = stream(frameSize, 1 << 20);
    FrameReassembler reassembler;
    long frames = 0;
    for (auto _ : state) {
        // Delivered in 4 KiB reads, as the socket hands them over.
        for (int offset = 0; offset < bytes.size(); offset += 4096) {
            const int n = std::min(4096, bytes.size() - offset);
            frames += reassembler.feedWith(bytes.constData() + offset, n,
                                           [](int, const quint8* p, int s) {
                                               benchmark::DoNotOptimize(p);
                                               benchmark::DoNotOptimize(s);
                                           });
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes.size());
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Reassemble)->Arg(6)->Arg(64)->Arg(1029)->Arg(4096);

void BM_Encode(benchmark::State& state)
{
    const QByteArray payload(static_cast<int>(state.range(0)), 'a');
    for (auto _ : state) {
        QByteArray frame = CommandFrame::encode(0x0101, payload);
        benchmark::DoNotOptimize(frame.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            (payload.size() + CommandFrame::kOverhead));
}
BENCHMARK(BM_Encode)->Arg(0)->Arg(58)->Arg(1023)->Arg(4090);

} // namespace

BENCHMARK_MAIN();
