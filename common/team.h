// A second thread kept for a run of jobs that both threads work on at once.
// A job cuts itself into tasks that the threads claim in turn, so that a
// thread held up elsewhere (a virtual processor the host has not scheduled,
// a thread still starting) costs the other only the task it holds, never
// the job. Waiting threads spin briefly, then sleep until signalled.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace okrelt {

constexpr int SPINS_BEFORE_SLEEPING = 10000;   // about 150 microseconds of pauses: a task's length, or a caller's work between two jobs

// Where waiting threads sleep once spinning has not been enough: events
// counts the signals given.
struct WakeWord {
    std::atomic<uint32_t> events{0};
    std::atomic<int> sleepers{0};
};

// Counts an event and wakes the threads sleeping on the word, if any.
void signal_event(WakeWord* word);

// Sleeps while the word's event count is still `seen`.
void sleep_on(WakeWord* word, uint32_t seen);

// Returns once ready() holds, which only a signal on the word can bring
// about. A waiter that has spun SPINS_BEFORE_SLEEPING pauses sleeps:
// yielding its processor between tries instead kept it busy, and where the
// host of a virtual machine ran two processors on fewer cores, the waiting
// thread took the time of the thread it waited for; while waking a sleeper
// on a virtual machine can take longer than the wait. Having counted
// itself among the sleepers, it looks again before sleeping, so that no
// signal is missed.
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

// The team: its second thread takes each piece of work offered unless the
// caller withdrew the offer first (having done every task alone).
class Team;
struct TeamEnd {
    void operator()(Team* team) const;   // stops and joins the thread
};
using TeamPtr = std::unique_ptr<Team, TeamEnd>;

// Starts a team's second thread; null where no thread can be started. Worth
// it only where a processor would otherwise stand idle.
TeamPtr start_team();

// Tells a team's second thread to leave, without waiting for it, so that
// the caller's last work overlaps its going. The team takes no further
// work; ending it then only waits for the thread.
void release_team(Team* team);

// Offers work(context) to the team's second thread. The caller then does its
// own share and calls settle_team before it reuses anything the work touches.
void offer_work(Team* team, void (*work)(void* context), void* context);

// Returns once the second thread is done with the work offered last, or has
// been kept from starting it.
void settle_team(Team* team);

}  // namespace okrelt
