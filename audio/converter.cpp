#include "audio/converter.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "audio/block_transform.h"
#include "audio/wav_header.h"
#include "common/memory.h"
#include "common/messages.h"
#include "common/output_file.h"
#include "report/rfi.h"

namespace okrelt {

namespace {

constexpr double PERCENT = 100.0;

// im starts a kibibyte and a cache line after re's last point. Were the two
// exactly a mebibyte apart, as they would be back to back, re[k] and im[k]
// would share every cache set and alias in the load-store unit.
constexpr size_t IM_OFFSET_DOUBLES = (1024 + 64) / sizeof(double);
constexpr size_t WORKING_DOUBLES = 2 * size_t{WORKING_POINTS} + IM_OFFSET_DOUBLES;
constexpr size_t WORKING_BYTES = WORKING_DOUBLES * sizeof(double);
constexpr int32_t SOUND_BUFFERS = 2;   // block b's bytes go into buffer b % 2 (see convert_to_wav_with)
constexpr size_t REGION_BYTES = WORKING_BYTES + size_t{SOUND_BUFFERS} * SPECTRUM_SIZE;

// Both working arrays in one region, re then im, and after them the buffers
// of the blocks' sound bytes: a huge page holds re and nearly all of im.
// Nothing in it needs clearing, as every block writes each point and byte
// before reading it. Null where memory is short.
MappedMemory set_up_working_region() { return map_big_array(REGION_BYTES); }

// Quantises a block's real parts in order. Values that fit 8 bits need no
// branch; a block with any other takes the printing path for all of them.
void quantise_block(const double* re, uint8_t* out) {
    int lowest = OUTPUT_MIN;
    int highest = OUTPUT_MAX;
    for (int32_t row = 0; row < SPECTRUM_ROWS; ++row) {
        const double* from = re + row * SPECTRUM_ROW_STRIDE;
        uint8_t* to = out + row * SPECTRUM_ROW_POINTS;
        for (int32_t l = 0; l < SPECTRUM_ROW_POINTS; ++l) {
            const int v = static_cast<int>(OUTPUT_GAIN * from[l]) + OUTPUT_ZERO_LEVEL;
            lowest = v < lowest ? v : lowest;
            highest = v > highest ? v : highest;
            to[l] = static_cast<uint8_t>(v);
        }
    }
    if (lowest < OUTPUT_MIN || highest > OUTPUT_MAX) {
        for (int32_t l = 0; l < SPECTRUM_SIZE; ++l) out[l] = quantise_sample(re[working_place(l)]);
    }
}

int32_t convert_block(const int8_t* in_phase, const int8_t* quadrature, const double* levels, SoundOrder order,
                      double* re, double* im, RunningPeak* peak, uint8_t* out, Team* team, BlockAside aside) {
    BlockBytes bytes;
    bytes.out = out;
    bytes.gain = OUTPUT_GAIN;
    bytes.zero = OUTPUT_ZERO_LEVEL;
    const int32_t rfi_factor = transform_block(in_phase, quadrature, levels, order, re, im, peak, &bytes, team, aside);
    if (!bytes.written || !bytes.fits) quantise_block(re, out);
    return rfi_factor;
}

// The block number and the count are rounded to single precision, and so is
// the percentage; the division between them is done in double, as users have
// always seen it.
void print_progress(int32_t block, int32_t count) {
    const float done = static_cast<float>(block + 1);
    const float samples = static_cast<float>(count);
    const float percent = static_cast<float>(
        static_cast<double>(done) / (static_cast<double>(samples) / BLOCK_SAMPLES) * PERCENT);
    tell(MessageKind::NOTE, "%02.2f %%\n", static_cast<double>(percent));
}

// The sound file goes out in runs of SPECTRUM_SIZE bytes, each starting on
// a multiple of SPECTRUM_SIZE in the file and written in one call: the
// header or the last WAV_HEADER_BYTES of a block, then the next block's
// bytes but its last WAV_HEADER_BYTES, rather than two calls a block, the
// first finishing a page the one before had begun.
static_assert(SPECTRUM_SIZE > WAV_HEADER_BYTES, "a block's bytes reach past the run's start");
constexpr size_t CARRIED_BYTES = WAV_HEADER_BYTES;

struct SoundOutput {
    OutputFile* file;                 // the caller's, or own
    OutputFile own;
    uint8_t carried[CARRIED_BYTES];   // the bytes that start the next run
};

// A block's bytes on their way to the sound file.
struct BlockWrite {
    SoundOutput* out;
    const uint8_t* bytes;
};

// Writes the run that ends with the block's bytes but its last few, which
// it keeps for the next.
void write_block(void* context) {
    const BlockWrite* write = static_cast<const BlockWrite*>(context);
    SoundOutput* out = write->out;
    append_output_pair(out->file, out->carried, CARRIED_BYTES, write->bytes, SPECTRUM_SIZE - CARRIED_BYTES);
    std::memcpy(out->carried, write->bytes + SPECTRUM_SIZE - CARRIED_BYTES, CARRIED_BYTES);
}

}  // namespace

uint8_t quantise_sample(double real_part) {
    int v = static_cast<int>(OUTPUT_GAIN * real_part) + OUTPUT_ZERO_LEVEL;
    if (v < OUTPUT_MIN) {
        tell(MessageKind::NOTE, "Overflow! %d\n", v);
        v = OUTPUT_MIN;
    }
    if (v > OUTPUT_MAX) {
        tell(MessageKind::NOTE, "Overflow! %d\n", v);
        v = OUTPUT_MAX;
    }
    return static_cast<uint8_t>(v);
}

int convert_to_sound_file(const int8_t* in_phase, const int8_t* quadrature, int32_t count,
                          const SoundFormat& format, SoundResult* result) {
    return convert_to_wav_with(convert_block, in_phase, quadrature, count, format, result);
}

int convert_to_wav_with(BlockConverter convert_block, const int8_t* in_phase, const int8_t* quadrature,
                        int32_t count, const SoundFormat& format, SoundResult* result) {
    *result = SoundResult{};
    if (count % BLOCK_SAMPLES != 0) {
        tell(MessageKind::PROBLEM, "Strange number of samples, will not convert.\n");
        return 1;
    }
    SoundOutput out;
    out.file = format.finished != nullptr ? format.finished : &out.own;
    const int open_error = format.path == nullptr ? 0 : open_output(format.path, out.file);
    if (open_error != 0) {
        tell(MessageKind::ERROR, "Error opening %s: %s\n", format.label, describe_output_error(open_error));
        return 1;
    }
    MappedMemory own;
    MappedMemory& arrays = format.arrays != nullptr ? *format.arrays : own;
    if (!arrays) arrays = set_up_working_region();
    double* const working = static_cast<double*>(arrays.get());
    if (working == nullptr) {
        tell(MessageKind::PROBLEM, "Memory allocation for fft's failed.");
        return 1;
    }
    double* re = working;
    double* im = working + WORKING_POINTS + IM_OFFSET_DOUBLES;
    // Block b's bytes go into buffer b % 2 and are written out while block
    // b + 1 is transformed: by this thread once a team's second thread has
    // made a start on it. Another thread writing the file would take a
    // processor from the team and hold up both of its threads.
    uint8_t* const first_buffer = reinterpret_cast<uint8_t*>(working) + WORKING_BYTES;
    uint8_t* const buffers[SOUND_BUFFERS] = {first_buffer, first_buffer + SPECTRUM_SIZE};
    // Two output bytes per sample. The header starts the first run.
    const int header_error = make_wav_header(out.carried, 2 * uint64_t{static_cast<uint32_t>(count)}, format.rate);
    if (header_error != 0) {
        tell(MessageKind::ERROR, "Error writing %s: %s\n", format.label, describe_output_error(header_error));
        return 1;
    }

    const int32_t blocks = count / BLOCK_SAMPLES;
    TeamPtr team = format.team ? start_team() : nullptr;
    RunningPeak peak;
    int32_t rfi_factor = 0;
    for (int32_t b = 0; b < blocks; ++b) {
        BlockWrite write_before{&out, b > 0 ? buffers[(b - 1) % SOUND_BUFFERS] : nullptr};
        BlockAside aside;
        if (out.file->file && b > 0) aside = BlockAside{write_block, &write_before};
        const size_t first = static_cast<size_t>(b) * BLOCK_SAMPLES;
        peak.block = b;
        rfi_factor = convert_block(in_phase + first, quadrature + first, format.levels, format.order, re, im, &peak,
                                   buffers[b % SOUND_BUFFERS], team.get(), aside);
        print_progress(b, count);
    }
    // The second thread goes while the last block is written, not before.
    if (team) release_team(team.get());
    if (out.file->file) {
        if (blocks > 0) {
            BlockWrite write_last{&out, buffers[(blocks - 1) % SOUND_BUFFERS]};
            write_block(&write_last);
        }
        append_output_pair(out.file, out.carried, CARRIED_BYTES, nullptr, 0);
    }
    team.reset();
    print_rfi_report(rfi_factor);
    *result = SoundResult{rfi_factor, peak.magnitude, peak.place};

    // A full disk must not pass for a finished sound file, nor cost the old one.
    int write_error = 0;
    if (out.file->file) write_error = format.finished != nullptr ? finish_output(out.file) : commit_output(out.file);
    if (write_error != 0) {
        tell(MessageKind::ERROR, "Error writing %s: %s\n", format.label, describe_output_error(write_error));
        return 1;
    }
    return 0;
}

}  // namespace okrelt
