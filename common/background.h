// Work on a thread of its own, waited for at the latest when the object
// goes; where no thread can be started, the work is done at once instead,
// so a busy or starved machine is slower but never wrong. And how many
// processors there are to run threads on.
#pragma once

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cstddef>

#include <functional>
#include <memory>
#include <utility>

namespace okrelt {

// How many processors this process may run on (its affinity mask, so that
// taskset and cpusets count), at least 1.
inline size_t usable_processors() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return 1;
    return static_cast<size_t>(std::max(1, CPU_COUNT(&allowed)));
}

class Background {
public:
    // Where the thread runs: wherever its caller may, or, for work done
    // while the caller works too, on those processors less the one the
    // caller is on, where there are others. Left free, a thread working
    // beside its caller was often queued behind it, at its start and at
    // each wake-up, for a millisecond or more.
    enum class Placement { ANYWHERE, BESIDE_CALLER };

    // Starts work (or, failing that, does it before returning).
    template <class Work>
    explicit Background(Work work, Placement placement = Placement::ANYWHERE)
        : Background(std::move(work), placement, NotAtOnce{}) {
        if (!started_) work_();
    }
    ~Background() { wait(); }

    // Starts work on a thread of its own, or returns null, with nothing
    // done, where no thread can be started: for work that must not run on
    // its caller's thread, such as one side of a hand-over.
    template <class Work>
    static std::unique_ptr<Background> try_start(Work work, Placement placement = Placement::ANYWHERE) {
        std::unique_ptr<Background> started(new Background(std::move(work), placement, NotAtOnce{}));
        if (!started->started_) started.reset();
        return started;
    }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    // Returns once the work is done.
    void wait() {
        if (started_) pthread_join(thread_, nullptr);
        started_ = false;
    }

private:
    struct NotAtOnce {};   // the work is not done on the caller's thread when no thread starts
    template <class Work>
    Background(Work work, Placement placement, NotAtOnce) : work_(std::move(work)) {
        pthread_attr_t attributes;
        if (pthread_attr_init(&attributes) != 0) return;
        cpu_set_t others;
        if (placement == Placement::BESIDE_CALLER && sched_getaffinity(0, sizeof others, &others) == 0) {
            const int here = sched_getcpu();
            if (here >= 0 && here < CPU_SETSIZE && CPU_ISSET(here, &others) && CPU_COUNT(&others) > 1) {
                CPU_CLR(here, &others);
                (void)pthread_attr_setaffinity_np(&attributes, sizeof others, &others);
            }
        }
        started_ = pthread_create(&thread_, &attributes, run, &work_) == 0;
        (void)pthread_attr_destroy(&attributes);
    }
    static void* run(void* work) {
        (*static_cast<std::function<void()>*>(work))();
        return nullptr;
    }
    std::function<void()> work_;
    pthread_t thread_{};
    bool started_ = false;
};

}  // namespace okrelt
