// Block converter: turns the decoded complex samples of a work unit into an
// 8-bit mono sound file ("work_unit.wav" unless told otherwise), block by
// block, and reports the RFI factor of the whole work unit.
#pragma once

#include <cstdint>

#include "audio/block_transform.h"
#include "audio/wav_header.h"
#include "common/block_sizes.h"
#include "common/memory.h"
#include "common/output_file.h"
#include "report/rfi.h"

namespace okrelt {

constexpr const char* SOUND_FILE_NAME = "work_unit.wav";
constexpr double OUTPUT_GAIN = 16.0;
constexpr int OUTPUT_ZERO_LEVEL = 128;
constexpr int OUTPUT_MIN = 0;
constexpr int OUTPUT_MAX = 255;

// Quantises one real output value: trunc(OUTPUT_GAIN x) + 128, clipped to
// 0..255 after printing "Overflow! %d\n" with the unclipped value.
uint8_t quantise_sample(double real_part);

// Per-block work: from a block's BLOCK_SAMPLES samples (their levels and the
// order as in transform_block), with re/im as working arrays of
// WORKING_POINTS doubles, to its SPECTRUM_SIZE output bytes, with the team's
// help where there is one (null: none), running aside once on the calling
// thread as transform_block does. Raises *peak by the block's bins (in
// peak->block) and returns peak_factor(*peak).
using BlockConverter = int32_t (*)(const int8_t* in_phase, const int8_t* quadrature, const double* levels,
                                   SoundOrder order, double* re, double* im, RunningPeak* peak, uint8_t* out,
                                   Team* team, BlockAside aside);

// Where and how a conversion writes its sound file.
struct SoundFormat {
    const char* path = SOUND_FILE_NAME;   // null: the blocks are converted and measured, nothing written
    const char* label = "outfile";      // the file as messages name it
    uint32_t rate = OUTPUT_RATE;        // sound samples per second
    const double* levels = nullptr;     // null: each stored byte is its sample's value
    SoundOrder order = SoundOrder::BIN; // where the spectrum is heard
    bool team = false;                  // a second thread shares each block, where one can be started:
                                        // for a conversion alone with a processor to spare
    OutputFile* finished = nullptr;     // where given, the sound file is left there finished but not
                                        // published, for the caller to publish with its other outputs
    MappedMemory* arrays = nullptr;     // where given, the working arrays, set up there at first use and
                                        // kept for the caller's next conversion; null: this one's own
};

// What a conversion found over all its blocks.
struct SoundResult {
    int32_t rfi_factor = 0;   // as the verdict box prints it: peak truncated toward zero
    double peak = 0.0;        // the largest bin magnitude of all blocks
    PeakPlace place;          // where peak lies; block -1 before any
};

// Converts count samples (a multiple of BLOCK_SAMPLES) into the sound file
// of format, at its rate and from its levels, printing progress, overflows
// and the RFI report, and puts what it found in *result (a fresh
// SoundResult where it stopped before the blocks). The file is replaced only
// once complete: on failure no partial file is left and an older one stays.
// The streams are only read. 0 on success, 1 after printing why it failed.
[[nodiscard]] int convert_to_sound_file(const int8_t* in_phase, const int8_t* quadrature, int32_t count,
                                        const SoundFormat& format, SoundResult* result);

// The same with another per-block converter, such as a reference.
[[nodiscard]] int convert_to_wav_with(BlockConverter convert_block, const int8_t* in_phase,
                                      const int8_t* quadrature, int32_t count, const SoundFormat& format,
                                      SoundResult* result);

}  // namespace okrelt
