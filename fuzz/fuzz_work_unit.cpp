// libFuzzer target: arbitrary bytes as "work_unit.sah" through the reader of
// either format (and a soft link's target, relative to the current folder),
// the count check and, when at least one block was decoded, the converter on
// whole blocks (one or two, so that runs stay fast). The converter writes
// "work_unit.wav" into the current folder: run it in a scratch folder.
#include <cstdint>
#include <cstdio>

#include "audio/converter.h"
#include "common/stdio_file.h"
#include "workunit/reader.h"

namespace {

constexpr int32_t MAX_FUZZ_BLOCKS = 2;

// What the reader promises beyond not crashing: never more samples than the
// declared count, every decoded sample +1 or -1 (classic), also 0 for
// silence (later format), or a 4-bit code -2, -1, 1, 2 or 0, and nothing
// written past the decoded ones. A broken promise stops the fuzzer like a crash.
bool valid_sample(int8_t sample, const okrelt::SampleStreams& streams, const okrelt::WorkUnitInfo& info) {
    if (streams.levels != nullptr) return sample >= -2 && sample <= 2;
    return sample == 1 || sample == -1 || (info.later_format && sample == 0);
}

void check_streams(const okrelt::SampleStreams& streams, const okrelt::WorkUnitInfo& info) {
    if (streams.count < 0 || streams.count > streams.capacity) __builtin_trap();
    const int8_t* arrays[] = {streams.in_phase, streams.quadrature};
    for (const int8_t* samples : arrays) {
        for (int32_t k = 0; k < streams.count; ++k) {
            if (!valid_sample(samples[k], streams, info)) __builtin_trap();
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
    okrelt::WorkUnitInfo info;
    if (okrelt::read_any_work_unit(file.get(), okrelt::WORK_UNIT_FILE_NAME, &streams, &info) != 0) return 0;
    file.reset();
    check_streams(streams, info);
    if (streams.count < okrelt::BLOCK_SAMPLES) return 0;
    int32_t blocks = streams.count / okrelt::BLOCK_SAMPLES;
    if (blocks > MAX_FUZZ_BLOCKS) blocks = MAX_FUZZ_BLOCKS;
    okrelt::SoundFormat format;
    format.rate = info.sound_rate;
    format.levels = streams.levels;
    okrelt::SoundResult result;
    (void)okrelt::convert_to_sound_file(streams.in_phase, streams.quadrature,
                                        blocks * okrelt::BLOCK_SAMPLES, format, &result);
    return 0;
}
