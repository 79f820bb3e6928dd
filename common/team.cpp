// The team's thread and its hand-overs: the state of the last offer is one
// atomic word, and every change of it is signalled on the team's wake word.
#include "common/team.h"

#include <sched.h>
#if defined(__linux__)
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <climits>

#include "common/background.h"

namespace okrelt {

namespace {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free,
              "the kernel's futex calls see the event count as a plain word");

// The team's state: the number of the work last offered in the upper bits,
// what became of the offer in the lower ones.
enum TeamStatus : uint64_t { OFFERED = 0, JOINED = 1, WITHDRAWN = 2, STOPPING = 3, STATUS_BITS = 2 };
constexpr uint64_t STATUS_MASK = (uint64_t{1} << STATUS_BITS) - 1;

constexpr uint64_t team_state(uint64_t offer, TeamStatus status) { return offer << STATUS_BITS | status; }

}  // namespace

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

void signal_event(WakeWord* word) {
    word->events.fetch_add(1, std::memory_order_seq_cst);
    if (word->sleepers.load(std::memory_order_seq_cst) == 0) return;
#if defined(__linux__)
    (void)syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word->events), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr,
                  nullptr, 0);
#endif
}

// Work the caller offered is the caller's to reuse only once the thread has
// left it, or the offer was withdrawn before the thread took it.
class Team {
public:
    void offer(void (*work)(void*), void* context) {
        work_ = work;
        context_ = context;
        ++offered_;
        state_.store(team_state(offered_, OFFERED), std::memory_order_release);
        signal_event(&wake_);
    }

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
                work_(context_);
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
    void (*work_)(void*) = nullptr;
    void* context_ = nullptr;
    uint64_t offered_ = 0;
    std::atomic<uint64_t> state_{team_state(0, WITHDRAWN)};
    std::atomic<uint64_t> left_{0};
    WakeWord wake_;   // signalled on every change of state_ and left_
};

void TeamEnd::operator()(Team* team) const {
    team->stop();
    team->thread.reset();
    delete team;
}

TeamPtr start_team() {
    TeamPtr team(new Team);
    Team* serving = team.get();
    team->thread = Background::try_start([serving] { serving->serve(); }, Background::Placement::BESIDE_CALLER);
    if (!team->thread) team.reset();
    return team;
}

void release_team(Team* team) { team->stop(); }

void offer_work(Team* team, void (*work)(void*), void* context) { team->offer(work, context); }

void settle_team(Team* team) { team->settle(); }

}  // namespace okrelt
