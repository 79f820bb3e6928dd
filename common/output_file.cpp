#include "common/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "common/release_thread.h"

namespace okrelt {

namespace {

constexpr mode_t NEW_FILE_MODE = 0666;   // less the umask, as fopen makes files
constexpr size_t SUFFIX_LENGTH = 7;      // ".XXXXXX" after the temporary's base
constexpr int NAME_TRIES = 100;          // temporary names tried before giving up

// The registry of temporary files not yet published. Each slot holds its
// name in place, so that a signal handler can read it while its owner's
// strings come and go; a slot is claimed and released with atomics only.
enum class SlotState : int { FREE, CLAIMED, LISTED };
// The table is zero (every slot FREE) from the program's load on, with no
// constructor run at start: its pages are only touched as slots are used.
struct UnfinishedSlot {
    std::atomic<SlotState> state;
    char temporary[PATH_MAX];
};
static_assert(static_cast<int>(SlotState::FREE) == 0, "a zeroed slot is free");
UnfinishedSlot unfinished[MAX_UNFINISHED];

// Lists temporary; the slot's index, or -1 where every slot is taken.
int list_unfinished(const std::string& temporary) {
    if (temporary.size() >= PATH_MAX) return -1;
    for (size_t i = 0; i < MAX_UNFINISHED; ++i) {
        SlotState expected = SlotState::FREE;
        if (unfinished[i].state.compare_exchange_strong(expected, SlotState::CLAIMED)) {
            std::memcpy(unfinished[i].temporary, temporary.c_str(), temporary.size() + 1);
            unfinished[i].state.store(SlotState::LISTED);
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Frees the slot list_unfinished gave. Only its owner touches a listed
// slot's name: another thread may be writing a fresh name into any other.
void unlist_unfinished(int slot) { unfinished[static_cast<size_t>(slot)].state.store(SlotState::FREE); }

// Removes the temporary file and forgets it.
void discard(OutputFile* output) {
    output->file.reset();
    if (!output->temporary.empty()) {
        unlink(output->temporary.c_str());
        unlist_unfinished(output->slot);
        output->temporary.clear();
        output->slot = -1;
    }
    output->finished = false;
}

void keep_write_error(OutputFile* output, int error) {
    if (output->write_error == 0) output->write_error = error != 0 ? error : EIO;
}

// A fresh six-character tail for a temporary name: the thread and the clock
// mixed, so that names differ between threads and processes (a name taken
// meanwhile is tried again with a later clock).
void fill_random_tail(char* tail) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t mixed = (static_cast<uint64_t>(gettid()) << 32) ^ (static_cast<uint64_t>(now.tv_nsec) << 12) ^
                     static_cast<uint64_t>(now.tv_sec);
    // splitmix64's finaliser
    mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9ULL;
    mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBULL;
    mixed ^= mixed >> 31;
    static const char LETTERS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int i = 0; i < 6; ++i) {
        tail[i] = LETTERS[mixed % 62];
        mixed /= 62;
    }
}

// Where the temporary file of path goes: path's folder, the target's name
// shortened as needed so that it and ".XXXXXX" fit NAME_MAX.
std::string temporary_pattern(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    const size_t name_length = std::min(path.size() - name_start, static_cast<size_t>(NAME_MAX) - SUFFIX_LENGTH);
    return path.substr(0, name_start + name_length) + ".XXXXXX";
}

// The folder that holds path, for locking.
std::string folder_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Steps an interrupt must not cut in two (a temporary file made and listed,
// a unit's set of renames) are counted here. An interrupt marks the count
// ENDING; if steps are under way, the last of them to finish ends the
// process, and no step starts once it is marked.
constexpr unsigned ENDING = 1u << 31;
std::atomic<unsigned> guarded_steps{0};
std::atomic<int> pending_signal{0};

void end_by_signal(int signal_number) {
    remove_unfinished_outputs();
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

void leave_guarded_step() {
    if (guarded_steps.fetch_sub(1) == (ENDING | 1u)) end_by_signal(pending_signal.load());
}

// Starts a guarded step: false, with nothing started, once the process is ending.
bool enter_guarded_step() {
    if ((guarded_steps.fetch_add(1) & ENDING) == 0) return true;
    leave_guarded_step();
    return false;
}

// Leaves a guarded step when it goes.
struct GuardedStep {
    bool entered = enter_guarded_step();
    ~GuardedStep() {
        if (entered) leave_guarded_step();
    }
};

extern "C" void on_interrupt(int signal_number) {
    pending_signal.store(signal_number);
    if ((guarded_steps.fetch_or(ENDING) & ~ENDING) == 0) end_by_signal(signal_number);
}

// Renames one finished output onto its target, the file it replaces going
// to releasing. 0, or the error number.
int rename_onto_target(OutputFile* output, ReleaseThread* releasing) {
    const int replaced = hold_file_to_release(releasing, output->path);
    const int error = std::rename(output->temporary.c_str(), output->path.c_str()) == 0 ? 0 : errno;
    release_held_file(releasing, replaced, error == 0);
    if (error != 0) return error;
    unlist_unfinished(output->slot);
    output->temporary.clear();
    output->slot = -1;
    output->finished = false;
    return 0;
}

// Exclusive locks on folders, released when the owner goes.
class FolderLocks {
public:
    explicit FolderLocks(std::vector<std::string> folders) {
        std::sort(folders.begin(), folders.end());
        folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
        for (const std::string& folder : folders) {
            const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (descriptor < 0) continue;   // an unreadable folder: published without the lock
            while (flock(descriptor, LOCK_EX) != 0 && errno == EINTR) {
            }
            held_.push_back(descriptor);
        }
    }
    ~FolderLocks() {
        for (const int descriptor : held_) close(descriptor);   // closing releases the lock
    }
    FolderLocks(const FolderLocks&) = delete;
    FolderLocks& operator=(const FolderLocks&) = delete;

private:
    std::vector<int> held_;
};

}  // namespace

OutputFile::~OutputFile() { discard(this); }

int open_output(const std::string& path, OutputFile* output) {
    discard(output);
    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode)) {
            return S_ISDIR(existing.st_mode) ? EISDIR : NOT_A_REGULAR_FILE;
        }
    } else if (errno == ENAMETOOLONG) {
        // Its temporary file, named shorter, could be made, but the rename
        // would fail after the unit's other files were put in place.
        return ENAMETOOLONG;
    }
    // Each name is listed before the file is made, and an interrupt waits for
    // both, so that it cannot leave the file behind.
    const GuardedStep step;
    if (!step.entered) return EINTR;
    std::string temporary = temporary_pattern(path);
    int descriptor = -1;
    int slot = -1;
    for (int attempt = 0; attempt < NAME_TRIES && descriptor < 0; ++attempt) {
        fill_random_tail(&temporary[temporary.size() - 6]);
        slot = list_unfinished(temporary);
        if (slot < 0) return TOO_MANY_OUTPUTS;
        descriptor = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, NEW_FILE_MODE);
        if (descriptor >= 0) break;
        const int error = errno;
        unlist_unfinished(slot);
        if (error != EEXIST) return error;
    }
    if (descriptor < 0) return EEXIST;
    FileHandle file(fdopen(descriptor, "wb"));
    if (!file) {
        const int error = errno;
        close(descriptor);
        unlink(temporary.c_str());
        unlist_unfinished(slot);
        return error;
    }
    output->file = std::move(file);
    output->path = path;
    output->temporary = std::move(temporary);
    output->slot = slot;
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
        const ssize_t written = writev(descriptor, left, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            keep_write_error(output, written < 0 ? errno : ENOSPC);
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

int finish_output(OutputFile* output) {
    if (output->finished) return 0;
    int error = output->write_error;
    errno = 0;
    if (error == 0 && (std::fflush(output->file.get()) != 0 || std::ferror(output->file.get()))) {
        error = errno != 0 ? errno : EIO;
    }
    errno = 0;
    if (std::fclose(output->file.release()) != 0 && error == 0) error = errno != 0 ? errno : EIO;
    if (error != 0) {
        discard(output);
        return error;
    }
    output->finished = true;
    return 0;
}

int publish_outputs(OutputFile* const* outputs, size_t count, ReleaseThread* releasing, const OutputFile** failed) {
    std::vector<std::string> folders;
    for (size_t i = 0; i < count; ++i) folders.push_back(folder_of(outputs[i]->path));
    int error = 0;
    // An interrupt waits for the whole set, or comes before any of it.
    const GuardedStep step;
    if (!step.entered) {
        error = EINTR;
        if (failed != nullptr && count > 0) *failed = outputs[0];
    }
    const FolderLocks locked(error == 0 ? std::move(folders) : std::vector<std::string>());
    for (size_t i = 0; i < count && error == 0; ++i) {
        error = outputs[i]->finished ? rename_onto_target(outputs[i], releasing) : EINVAL;
        if (error != 0 && failed != nullptr) *failed = outputs[i];
    }
    return error;
}

int commit_output(OutputFile* output) {
    const int error = finish_output(output);
    if (error != 0) return error;
    OutputFile* const one[] = {output};
    return publish_outputs(one, 1);
}

const char* describe_output_error(int error) {
    if (error == NOT_A_REGULAR_FILE) return "Not a regular file";
    if (error == TOO_MANY_OUTPUTS) return "Too many output files open at once";
    return std::strerror(error);
}

void remove_unfinished_outputs() {
    for (UnfinishedSlot& slot : unfinished) {
        if (slot.state.load() == SlotState::LISTED) unlink(slot.temporary);
    }
}

InterruptHold::InterruptHold() : held_(enter_guarded_step()) {}

InterruptHold::~InterruptHold() {
    if (held_) leave_guarded_step();
}

void clean_up_on_interrupt() {
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    // The handler's own raise must end the process at once.
    action.sa_flags = static_cast<int>(SA_RESETHAND | SA_NODEFER);
    // SIGPIPE: the reader of the output went away (okrelt -q ... | head).
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
        // A signal ignored when the program started (nohup, a background job) stays ignored.
        struct sigaction before {};
        if (sigaction(signal_number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        sigaction(signal_number, &action, nullptr);
    }
    // Past a file-size limit (ulimit -f) a write fails with EFBIG and is
    // reported as any failed write is, rather than ending the process.
    signal(SIGXFSZ, SIG_IGN);
}

}  // namespace okrelt
