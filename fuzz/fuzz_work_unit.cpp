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
    if (streams.count < okrelt::BLOCK_SAMPLES) return 0;
    int32_t blocks = streams.count / okrelt::BLOCK_SAMPLES;
    if (blocks > MAX_FUZZ_BLOCKS) blocks = MAX_FUZZ_BLOCKS;
    (void)okrelt::convert_to_wav(streams.in_phase.get(), streams.quadrature.get(), blocks * okrelt::BLOCK_SAMPLES);
    return 0;
}
