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
    // Starts work (or, failing that, does it before returning).
    template <class Work>
    explicit Background(Work work) : Background(std::move(work), Placement::ANYWHERE) {
        if (!started_) work_();
    }
    ~Background() { wait(); }

    // Starts work on a thread of its own, or returns null, with nothing
    // done, where no thread can be started: for work that must not run on
    // its caller's thread, such as one side of a hand-over.
    template <class Work>
    static std::unique_ptr<Background> try_start(Work work) {
        return started_or_null(new Background(std::move(work), Placement::ANYWHERE));
    }

    // The same for a thread that works beside its caller: it runs on the
    // processors its caller may use less the one its caller is on, where
    // there are others. Left free, it was often queued behind its busy
    // caller, at its start and at each wake-up, for a millisecond or more.
    template <class Work>
    static std::unique_ptr<Background> try_start_beside(Work work) {
        return started_or_null(new Background(std::move(work), Placement::BESIDE_CALLER));
    }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    // Returns once the work is done.
    void wait() {
        if (started_) pthread_join(thread_, nullptr);
        started_ = false;
    }

private:
    enum class Placement { ANYWHERE, BESIDE_CALLER };
    // Starts the thread; the work is not done on the caller's thread when none starts.
    template <class Work>
    Background(Work work, Placement placement) : work_(std::move(work)) {
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
    static std::unique_ptr<Background> started_or_null(Background* made) {
        std::unique_ptr<Background> started(made);
        if (!started->started_) started.reset();
        return started;
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
