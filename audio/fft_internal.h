// Inside the transform: the twiddle tables shared by every code path, and the
// entry points each instruction-set file provides.
#pragma once

#include <atomic>
#include <cstdint>

#include "audio/block_transform.h"
#include "audio/fft.h"
#include "common/block_sizes.h"
#include "common/sample_levels.h"
#include "common/team.h"
#include "report/rfi.h"

namespace okrelt {

constexpr int TWIDDLE_STAGES = FFT_MAX_LOG2;            // stages 0..16: half-widths 1..65536
static_assert(TWIDDLE_STAGES == SPECTRUM_LOG2, "the tables cover the converter's inverse transform, no more");
constexpr long TWIDDLE_ENTRIES = 1L << TWIDDLE_STAGES;  // stage s occupies [2^s, 2^(s+1))

// The step factors of every stage, advanced by the recurrence exactly as the
// stage loop does it, computed by the build and kept in read-only data.
struct TwiddleTables {
    // Inverse direction, stage s, butterfly j at [2^s + j].
    alignas(64) double inverse_re[TWIDDLE_ENTRIES];
    alignas(64) double inverse_im[TWIDDLE_ENTRIES];
    // Forward direction, stage s, at [2^s + rev_s(j)]: the order in which the
    // blocks of a stage meet their twiddles when the data stays in natural order.
    alignas(64) double forward_re[TWIDDLE_ENTRIES];
    alignas(64) double forward_im[TWIDDLE_ENTRIES];
};

// The tables: the build's, carried in read-only data (fft_tables.cpp), or in
// a program that links fft_tables_computed.cpp instead, computed on first use.
// Not inline: every instruction-set file calls the same baseline code.
const TwiddleTables* twiddle_tables();

// Fills tables with the recurrence of twiddle_recurrence.h, as the build does.
void compute_twiddle_tables(TwiddleTables* tables);

// Where the first forward pass of a block takes its points from: the stored
// sample values themselves, the levels their codes stand for, or re/im.
enum class SampleSource { VALUES, LEVELS, ARRAYS };

// One block's work cut into tasks, phase after phase, for the threads of a
// team to claim in turn (common/team.h); a thread alone claims them all.
// Tasks of a phase are independent of each other, except that a part's
// expansion overwrites the bins of the parts its row covers, which must be
// finished first. The kernels touch the counters only through the
// functions below.
enum class BlockPhase { FIRST_STAGES, PARTS, ROWS };
constexpr int BLOCK_PHASES = 3;
constexpr int FIRST_STAGE_TASKS = 8;   // columns of the forward stages over the whole block
constexpr int PART_TASKS = 16;         // task t: part PART_TASKS - 1 - t, the last part first
constexpr int ROW_TASKS = 16;          // columns of the inverse stages joining the rows
constexpr int PHASE_TASKS[BLOCK_PHASES] = {FIRST_STAGE_TASKS, PART_TASKS, ROW_TASKS};
constexpr int index_of(BlockPhase phase) { return static_cast<int>(phase); }   // in the arrays by phase

struct BlockJob {
    const int8_t* in_phase = nullptr;
    const int8_t* quadrature = nullptr;
    const double* levels = nullptr;
    SoundOrder order = SoundOrder::BIN;
    double* re = nullptr;
    double* im = nullptr;
    double peak_before = 0.0;      // the running peak as the block starts: bins below it need no look
    bool with_bytes = false;
    BlockBytes bytes[ROW_TASKS];   // each row task's own copy of the caller's
    BinsPeak peaks[PART_TASKS];    // each part task's bins' peak
    std::atomic<int> claimed[BLOCK_PHASES] = {};
    std::atomic<int> finished[BLOCK_PHASES] = {};
    std::atomic<bool> part_expanded[PART_TASKS] = {};   // the part's bins are read: its points may go
    WakeWord wake;   // signalled as each task finishes
};

// The next unclaimed task of the phase, now claimed; -1 when none is left.
int claim_task(BlockJob* job, BlockPhase phase);

// Marks a claimed task finished, publishing what it wrote.
void finish_task(BlockJob* job, BlockPhase phase);

// Returns once every task of the phase is finished.
void wait_for_phase(BlockJob* job, BlockPhase phase);

// Marks part task `task`'s bins as read, publishing that to a part whose
// row overwrites them.
void finish_part_expansion(BlockJob* job, int task);

// Returns once part task `task`'s bins are read.
void wait_for_part_expansion(BlockJob* job, int task);

// What one instruction-set file provides.
struct FftKernels {
    // The transform as fft() specifies it, for 0 <= m <= FFT_MAX_LOG2.
    void (*transform)(int16_t direction, int m, double* re, double* im);
    // The forward transform with bin k left at rev_m(k), as fft.h says.
    void (*forward_bit_reversed)(int m, double* re, double* im);
    // Claims and does the tasks of the job's block (the fused block of
    // block_transform.h) until none is left, phase after phase.
    void (*work_on_block)(BlockJob* job);
};

const FftKernels* generic_kernels();
const FftKernels* sse2_kernels();    // nullptr where the build has no SSE2 file
const FftKernels* avx2_kernels();
const FftKernels* avx512_kernels();

// The fused block on the kernels given, with the team's second thread where
// there is one, and the caller's aside: raises *peak and returns the RFI
// factor so far, as transform_block does.
int32_t run_block(const FftKernels* kernels, const int8_t* in_phase, const int8_t* quadrature, const double* levels,
                  SoundOrder order, double* re, double* im, RunningPeak* peak, BlockBytes* bytes, Team* team,
                  BlockAside aside);

}  // namespace okrelt
