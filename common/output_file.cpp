#include "common/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "common/background.h"

namespace okrelt {

namespace {

constexpr mode_t NEW_FILE_MODE = 0666;   // before the umask, as fopen makes files
constexpr size_t MAX_UNFINISHED = 64;    // outputs open at once, at most, in all threads

// The temporary files not yet committed, for remove_unfinished_outputs.
// Atomic slots: threads open and commit outputs side by side, and the
// out-of-memory handler reads them without taking a lock.
std::atomic<const std::string*> unfinished[MAX_UNFINISHED] = {};

void track(const std::string* temporary, bool open) {
    for (std::atomic<const std::string*>& slot : unfinished) {
        const std::string* expected = open ? nullptr : temporary;
        if (slot.compare_exchange_strong(expected, open ? temporary : nullptr)) return;
    }
}

void discard(OutputFile* output) {
    output->file.reset();
    if (!output->temporary.empty()) {
        std::remove(output->temporary.c_str());
        track(&output->temporary, false);
        output->temporary.clear();
    }
}

void keep_write_error(OutputFile* output) {
    if (output->write_error == 0) output->write_error = errno != 0 ? errno : EIO;
}

// Replaced files waiting to be closed, at most: each holds its storage and a
// descriptor until then. Beyond, the committing thread closes its own.
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

namespace {

std::atomic<ReleaseThread*> release_thread{nullptr};

// A descriptor that keeps the file at path alive through its replacement;
// -1 where there is none. O_PATH opens nothing: no read permission needed,
// no device woken.
int hold_replaced_file(const std::string& path) {
#if defined(O_PATH)
    return open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
#else
    (void)path;
    return -1;
#endif
}

}  // namespace

ReleaseThreadPtr start_release_thread() {
    ReleaseThreadPtr started(new ReleaseThread);
    ReleaseThread* const running = started.get();
    started->thread = Background::try_start([running] { running->run(); });
    ReleaseThread* none = nullptr;
    if (!started->thread || !release_thread.compare_exchange_strong(none, running)) {
        if (started->thread) started->end();
        started.reset();
    }
    return started;
}

void ReleaseThreadEnd::operator()(ReleaseThread* thread) const {
    ReleaseThread* expected = thread;
    release_thread.compare_exchange_strong(expected, nullptr);
    if (thread->thread) {
        thread->end();
        thread->thread->wait();
    }
    delete thread;
}

OutputFile::~OutputFile() { discard(this); }

int open_output(const std::string& path, OutputFile* output) {
    discard(output);
    std::string target = path;
    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0 && S_ISLNK(existing.st_mode)) {
        std::unique_ptr<char, FreeDeleter> resolved(realpath(path.c_str(), nullptr));
        if (!resolved) return errno;
        target = resolved.get();
    }
    if (stat(target.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        return S_ISDIR(existing.st_mode) ? EISDIR : NOT_A_REGULAR_FILE;
    }
    std::string temporary = target + ".XXXXXX";
    const int descriptor = mkostemp(temporary.data(), O_CLOEXEC);
    if (descriptor < 0) return errno;
    // mkostemp makes the file private; an output is as readable as any new file.
    const mode_t mask = umask(0);
    umask(mask);
    FileHandle file(fchmod(descriptor, NEW_FILE_MODE & ~mask) == 0 ? fdopen(descriptor, "wb") : nullptr);
    if (!file) {
        const int error = errno;
        close(descriptor);
        std::remove(temporary.c_str());
        return error;
    }
    output->file = std::move(file);
    output->path = target;
    output->temporary = std::move(temporary);
    track(&output->temporary, true);
    return 0;
}

void append_output_pair(OutputFile* output, const void* first, size_t first_size, const void* second,
                        size_t second_size) {
    iovec pieces[] = {{const_cast<void*>(first), first_size}, {const_cast<void*>(second), second_size}};
    iovec* left = pieces;
    int count = sizeof pieces / sizeof pieces[0];
    size_t remaining = first_size + second_size;
    const int descriptor = fileno(output->file.get());
    while (remaining > 0) {
        errno = 0;
        const ssize_t written = writev(descriptor, left, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            keep_write_error(output);
            return;
        }
        // A short write: the rest of the pieces goes in the next.
        remaining -= static_cast<size_t>(written);
        size_t taken = static_cast<size_t>(written);
        while (count > 0 && taken >= left->iov_len) {
            taken -= left->iov_len;
            ++left;
            --count;
        }
        if (count > 0) {
            left->iov_base = static_cast<char*>(left->iov_base) + taken;
            left->iov_len -= taken;
        }
    }
}

void start_writeback(OutputFile* output) {
    errno = 0;
    if (std::fflush(output->file.get()) != 0) {
        keep_write_error(output);
        return;
    }
#if defined(__linux__)
    (void)sync_file_range(fileno(output->file.get()), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

int commit_output(OutputFile* output) {
    int error = 0;
    errno = 0;
    if (std::fflush(output->file.get()) != 0 || std::ferror(output->file.get())) error = errno != 0 ? errno : EIO;
    if (output->write_error != 0) error = output->write_error;
    if (std::fclose(output->file.release()) != 0 && error == 0) error = errno != 0 ? errno : EIO;
    ReleaseThread* const releasing = release_thread.load();
    const int replaced = error == 0 && releasing != nullptr ? hold_replaced_file(output->path) : -1;
    if (error == 0 && std::rename(output->temporary.c_str(), output->path.c_str()) != 0) error = errno;
    if (replaced >= 0) {
        if (error == 0) {
            releasing->hand_over(replaced);
        } else {
            close(replaced);
        }
    }
    if (error != 0) {
        discard(output);
        return error;
    }
    track(&output->temporary, false);
    output->temporary.clear();
    return 0;
}

const char* describe_output_error(int error) {
    return error == NOT_A_REGULAR_FILE ? "Not a regular file" : std::strerror(error);
}

void remove_unfinished_outputs() {
    for (const std::atomic<const std::string*>& slot : unfinished) {
        if (const std::string* temporary = slot.load()) unlink(temporary->c_str());
    }
}

}  // namespace okrelt
