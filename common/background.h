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
    explicit Background(Work work) : Background(std::move(work), NotAtOnce{}) {
        if (!started_) work_();
    }
    ~Background() { wait(); }

    // Starts work on a thread of its own, or returns null, with nothing
    // done, where no thread can be started: for work that must not run on
    // its caller's thread, such as one side of a hand-over.
    template <class Work>
    static std::unique_ptr<Background> try_start(Work work) {
        std::unique_ptr<Background> started(new Background(std::move(work), NotAtOnce{}));
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
    // The thread starts on another processor than its caller's where the
    // process may use one: left to itself, the kernel often queued it behind
    // its busy caller for a millisecond or more. It then takes back the
    // processors its caller may use.
    template <class Work>
    Background(Work work, NotAtOnce) : work_(std::move(work)) {
        pthread_attr_t attributes;
        if (pthread_attr_init(&attributes) != 0) return;
        if (sched_getaffinity(0, sizeof allowed_, &allowed_) == 0) {
            cpu_set_t elsewhere = allowed_;
            const int here = sched_getcpu();
            if (here >= 0 && here < CPU_SETSIZE) CPU_CLR(here, &elsewhere);
            if (CPU_COUNT(&elsewhere) > 0) {
                kept_apart_ = pthread_attr_setaffinity_np(&attributes, sizeof elsewhere, &elsewhere) == 0;
            }
        }
        started_ = pthread_create(&thread_, &attributes, run, this) == 0;
        (void)pthread_attr_destroy(&attributes);
    }
    static void* run(void* context) {
        Background& self = *static_cast<Background*>(context);
        if (self.kept_apart_) (void)sched_setaffinity(0, sizeof self.allowed_, &self.allowed_);
        self.work_();
        return nullptr;
    }
    std::function<void()> work_;
    cpu_set_t allowed_{};
    bool kept_apart_ = false;
    pthread_t thread_{};
    bool started_ = false;
};

}  // namespace okrelt
