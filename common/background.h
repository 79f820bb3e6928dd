// Work on a thread of its own, waited for at the latest when the object
// goes; where no thread can be started, the work is done at once instead,
// so a busy or starved machine is slower but never wrong.
#pragma once

#include <pthread.h>

#include <functional>
#include <utility>

namespace okrelt {

class Background {
public:
    // Starts work (or, failing that, does it before returning).
    template <class Work>
    explicit Background(Work work) : work_(std::move(work)) {
        started_ = pthread_create(&thread_, nullptr, run, &work_) == 0;
        if (!started_) work_();
    }
    ~Background() { wait(); }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    // Returns once the work is done.
    void wait() {
        if (started_) pthread_join(thread_, nullptr);
        started_ = false;
    }

private:
    static void* run(void* work) {
        (*static_cast<std::function<void()>*>(work))();
        return nullptr;
    }
    std::function<void()> work_;
    pthread_t thread_{};
    bool started_ = false;
};

}  // namespace okrelt
