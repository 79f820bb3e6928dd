#include "common/release_thread.h"

#include <fcntl.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "common/background.h"

namespace okrelt {

namespace {

// Replaced files waiting to be closed, at most; beyond, the renaming thread
// closes its own.
constexpr size_t MAX_HELD_FILES = 16;

}  // namespace

class ReleaseThread {
public:
    // Takes the descriptor of a replaced file to close.
    void hand_over(int descriptor) {
        {
            const std::lock_guard<std::mutex> hold(lock_);
            if (held_.size() < MAX_HELD_FILES) {
                held_.push_back(descriptor);
                wake_.notify_one();
                return;
            }
        }
        close(descriptor);
    }
    // Closes the files handed over until told to end, then those left.
    void run() {
        std::vector<int> closing;
        for (;;) {
            {
                std::unique_lock<std::mutex> hold(lock_);
                wake_.wait(hold, [this] { return ending_ || !held_.empty(); });
                if (held_.empty()) return;
                closing.swap(held_);
            }
            for (const int descriptor : closing) close(descriptor);
            closing.clear();
        }
    }
    void end() {
        const std::lock_guard<std::mutex> hold(lock_);
        ending_ = true;
        wake_.notify_one();
    }
    std::unique_ptr<Background> thread;

private:
    std::mutex lock_;
    std::condition_variable wake_;
    std::vector<int> held_;
    bool ending_ = false;
};

ReleaseThreadPtr start_release_thread() {
    ReleaseThreadPtr started(new ReleaseThread);
    ReleaseThread* const running = started.get();
    started->thread = Background::try_start([running] { running->run(); });
    if (!started->thread) started.reset();
    return started;
}

void ReleaseThreadEnd::operator()(ReleaseThread* thread) const {
    if (thread->thread) {
        thread->end();
        thread->thread->wait();
    }
    delete thread;
}

int hold_file_to_release(ReleaseThread* releasing, const std::string& path) {
#if defined(O_PATH)
    if (releasing == nullptr) return -1;
    // O_PATH opens nothing: no read permission needed, no device woken.
    return open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
#else
    (void)releasing;
    (void)path;
    return -1;
#endif
}

void release_held_file(ReleaseThread* releasing, int descriptor, bool replaced) {
    if (descriptor < 0) return;
    if (replaced && releasing != nullptr) {
        releasing->hand_over(descriptor);
    } else {
        close(descriptor);
    }
}

}  // namespace okrelt
