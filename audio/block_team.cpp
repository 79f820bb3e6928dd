// The fused block's tasks, shared with a team's second thread: claims and
// completions are atomic counters; a waiting thread spins briefly, then
// sleeps until the thread it waits for signals.
#include <atomic>
#include <cstdint>

#include "audio/block_transform.h"
#include "audio/fft_internal.h"
#include "common/team.h"
#include "report/rfi.h"

namespace okrelt {

namespace {

// A block as the team's second thread is offered it.
struct OfferedBlock {
    const FftKernels* kernels;
    BlockJob* job;
};

void work_on_offered_block(void* offered) {
    const OfferedBlock* block = static_cast<const OfferedBlock*>(offered);
    block->kernels->work_on_block(block->job);
}

}  // namespace

int claim_task(BlockJob* job, BlockPhase phase) {
    const int task = job->claimed[index_of(phase)].fetch_add(1, std::memory_order_relaxed);
    return task < PHASE_TASKS[index_of(phase)] ? task : -1;
}

void finish_task(BlockJob* job, BlockPhase phase) {
    job->finished[index_of(phase)].fetch_add(1, std::memory_order_release);
    signal_event(&job->wake);
}

void wait_for_phase(BlockJob* job, BlockPhase phase) {
    wait_until(&job->wake,
               [&] { return job->finished[index_of(phase)].load(std::memory_order_acquire) == PHASE_TASKS[index_of(phase)]; });
}

void finish_part_expansion(BlockJob* job, int task) {
    job->part_expanded[task].store(true, std::memory_order_release);
    signal_event(&job->wake);
}

void wait_for_part_expansion(BlockJob* job, int task) {
    wait_until(&job->wake, [&] { return job->part_expanded[task].load(std::memory_order_acquire); });
}

int32_t run_block(const FftKernels* kernels, const int8_t* in_phase, const int8_t* quadrature, const double* levels,
                  SoundOrder order, double* re, double* im, RunningPeak* peak, BlockBytes* bytes, Team* team,
                  BlockAside aside) {
    BlockJob job;
    job.in_phase = in_phase;
    job.quadrature = quadrature;
    job.levels = levels;
    job.order = order;
    job.re = re;
    job.im = im;
    job.peak_before = peak->magnitude;
    job.with_bytes = bytes != nullptr;
    if (bytes != nullptr) {
        for (BlockBytes& share : job.bytes) share = *bytes;
    }
    OfferedBlock offered{kernels, &job};
    if (team != nullptr) offer_work(team, work_on_offered_block, &offered);
    if (aside.run != nullptr) aside.run(aside.context);
    kernels->work_on_block(&job);
    wait_for_phase(&job, BlockPhase::ROWS);
    if (team != nullptr) settle_team(team);
    if (bytes != nullptr) {
        bytes->written = true;
        for (const BlockBytes& share : job.bytes) {
            bytes->written = bytes->written && share.written;
            bytes->fits = bytes->fits && share.fits;
        }
    }
    BinsPeak block_peak;
    for (const BinsPeak& found : job.peaks) block_peak = stronger_peak(block_peak, found);
    return raise_peak(peak, block_peak);
}

}  // namespace okrelt
