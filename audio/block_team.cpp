// The fused block's tasks and the team that shares them: claims and
// completions are atomic counters; a waiting thread spins briefly, then
// sleeps until the thread it waits for signals.
#include <sched.h>
#if defined(__linux__)
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <atomic>
#include <climits>
#include <cstdint>
#include <memory>

#include "audio/block_transform.h"
#include "audio/fft_internal.h"
#include "common/background.h"
#include "report/rfi.h"

namespace okrelt {

namespace {

constexpr int SPINS_BEFORE_SLEEPING = 2000;   // tens of microseconds of pauses, about a task's length

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free,
              "the kernel's futex calls see the event count as a plain word");

// Sleeps while the word's event count is still `seen`.
void sleep_on(WakeWord* word, uint32_t seen) {
#if defined(__linux__)
    (void)syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word->events), FUTEX_WAIT_PRIVATE, seen, nullptr,
                  nullptr, 0);
#else
    (void)word;
    (void)seen;
    sched_yield();
#endif
}

// Counts an event and wakes the threads sleeping on the word, if any.
void signal_event(WakeWord* word) {
    word->events.fetch_add(1, std::memory_order_seq_cst);
    if (word->sleepers.load(std::memory_order_seq_cst) == 0) return;
#if defined(__linux__)
    (void)syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word->events), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr,
                  nullptr, 0);
#endif
}

// Returns once ready() holds, which only a signal on the word can bring
// about. A waiter that has spun about a task's length sleeps: yielding its
// processor between tries instead kept it busy, and where the host of a
// virtual machine ran the team's two processors on fewer cores, the waiting
// thread took the time of the thread it waited for. Having counted itself among the sleepers, it looks again
// before sleeping, so that no signal is missed.
template <class Ready>
void wait_until(WakeWord* word, Ready ready) {
    for (int spins = 0; spins < SPINS_BEFORE_SLEEPING; ++spins) {
        if (ready()) return;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
    while (!ready()) {
        const uint32_t seen = word->events.load(std::memory_order_seq_cst);
        word->sleepers.fetch_add(1, std::memory_order_seq_cst);
        if (!ready() && word->events.load(std::memory_order_seq_cst) == seen) sleep_on(word, seen);
        word->sleepers.fetch_sub(1, std::memory_order_seq_cst);
    }
}

// The team's state: the number of the block last offered in the upper bits,
// what became of the offer in the lower ones.
enum TeamStatus : uint64_t { OFFERED = 0, JOINED = 1, WITHDRAWN = 2, STOPPING = 3, STATUS_BITS = 2 };
constexpr uint64_t STATUS_MASK = (uint64_t{1} << STATUS_BITS) - 1;

constexpr uint64_t team_state(uint64_t block, TeamStatus status) { return block << STATUS_BITS | status; }

}  // namespace

// The second thread takes each block offered unless the caller withdrew the
// offer first, having finished every task alone; a block it joined is the
// caller's to reuse only once the thread has left it.
class BlockTeam {
public:
    void offer(const FftKernels* kernels, BlockJob* job) {
        kernels_ = kernels;
        job_ = job;
        ++offered_;
        state_.store(team_state(offered_, OFFERED), std::memory_order_release);
        signal_event(&wake_);
    }

    // Returns once the second thread is done with the block offered last.
    void settle() {
        uint64_t expected = team_state(offered_, OFFERED);
        if (state_.compare_exchange_strong(expected, team_state(offered_, WITHDRAWN), std::memory_order_acq_rel)) {
            return;
        }
        wait_until(&wake_, [&] { return left_.load(std::memory_order_acquire) == offered_; });
    }

    void serve() {
        uint64_t seen = 0;
        for (;;) {
            uint64_t state = 0;
            wait_until(&wake_, [&] {
                state = state_.load(std::memory_order_acquire);
                return (state & STATUS_MASK) == STOPPING ||
                       ((state & STATUS_MASK) == OFFERED && state >> STATUS_BITS != seen);
            });
            if ((state & STATUS_MASK) == STOPPING) return;
            seen = state >> STATUS_BITS;
            if (state_.compare_exchange_strong(state, team_state(seen, JOINED), std::memory_order_acq_rel)) {
                kernels_->work_on_block(job_);
                left_.store(seen, std::memory_order_release);
                signal_event(&wake_);
            }
        }
    }

    void stop() {
        state_.store(team_state(offered_, STOPPING), std::memory_order_release);
        signal_event(&wake_);
    }

    std::unique_ptr<Background> thread;

private:
    const FftKernels* kernels_ = nullptr;
    BlockJob* job_ = nullptr;
    uint64_t offered_ = 0;
    std::atomic<uint64_t> state_{team_state(0, WITHDRAWN)};
    std::atomic<uint64_t> left_{0};
    WakeWord wake_;   // signalled on every change of state_ and left_
};

void BlockTeamEnd::operator()(BlockTeam* team) const {
    team->stop();
    team->thread.reset();
    delete team;
}

void release_block_team(BlockTeam* team) { team->stop(); }

BlockTeamPtr start_block_team() {
    BlockTeamPtr team(new BlockTeam);
    BlockTeam* serving = team.get();
    team->thread = Background::try_start([serving] { serving->serve(); });
    if (!team->thread) team.reset();
    return team;
}

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
                  SoundOrder order, double* re, double* im, RunningPeak* peak, BlockBytes* bytes, BlockTeam* team,
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
    if (team != nullptr) team->offer(kernels, &job);
    if (aside.run != nullptr) aside.run(aside.context);
    kernels->work_on_block(&job);
    wait_for_phase(&job, BlockPhase::ROWS);
    if (team != nullptr) team->settle();
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
