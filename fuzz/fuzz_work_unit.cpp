// libFuzzer target: arbitrary bytes as "work_unit.sah" through the reader, the
// count check and, when at least one block was decoded, the converter on
// whole blocks (one or two, so that runs stay fast). The converter writes
// "work_unit.wav" into the current folder: run it in a scratch folder.
#include <cstdint>
#include <cstdio>

#include "app/driver.h"
#include "audio/converter.h"
#include "common/stdio_file.h"
#include "workunit/reader.h"

namespace {

constexpr int32_t MAX_FUZZ_BLOCKS = 2;

// What the reader promises beyond not crashing: never more samples than the
// declared count, every decoded sample +1 or -1, and nothing written past
// the decoded ones. A broken promise stops the fuzzer like a crash.
void check_streams(const okrelt::SampleStreams& streams) {
    if (streams.count < 0 || streams.count > streams.capacity) __builtin_trap();
    const int8_t* arrays[] = {streams.in_phase.get(), streams.quadrature.get()};
    for (const int8_t* samples : arrays) {
        for (int32_t k = 0; k < streams.count; ++k) {
            if (samples[k] != 1 && samples[k] != -1) __builtin_trap();
        }
        const int64_t end = int64_t{streams.capacity} + okrelt::SPARE_SAMPLES;
        for (int64_t k = streams.count; k < end && k < int64_t{streams.count} + okrelt::SPARE_SAMPLES; ++k) {
            if (samples[k] != 0) __builtin_trap();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The program's messages are its behaviour, not the fuzzer's concern.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) return 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    okrelt::FileHandle file(size > 0 ? fmemopen(const_cast<uint8_t*>(data), size, "r")
                                     : std::fopen("/dev/null", "r"));
    if (!file) return 0;
    okrelt::SampleStreams streams;
    if (okrelt::read_work_unit(file.get(), &streams) != 0) return 0;
    file.reset();
    check_streams(streams);
    if (streams.count < okrelt::BLOCK_SAMPLES) return 0;
    int32_t blocks = streams.count / okrelt::BLOCK_SAMPLES;
    if (blocks > MAX_FUZZ_BLOCKS) blocks = MAX_FUZZ_BLOCKS;
    (void)okrelt::convert_to_wav(streams.in_phase.get(), streams.quadrature.get(), blocks * okrelt::BLOCK_SAMPLES);
    return 0;
}
