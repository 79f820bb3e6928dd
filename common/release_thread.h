// The release thread, a speed device for batches: replacing a file drops its
// storage, and where the file system tells the disk of every block it frees
// (ext4 mounted with discard) the rename waits for the disk. While a release
// thread runs, a rename keeps the file it replaces open and hands it to that
// thread to close. Its measured gain: docs/performance.md.
#pragma once

#include <memory>
#include <string>

namespace okrelt {

class ReleaseThread;
struct ReleaseThreadEnd {
    void operator()(ReleaseThread* thread) const;   // closes every file handed over, then joins the thread
};
using ReleaseThreadPtr = std::unique_ptr<ReleaseThread, ReleaseThreadEnd>;

// Starts a release thread, for a process with more to do after a rename;
// null where no thread can be started. Ended only once no thread renames
// through it any more.
ReleaseThreadPtr start_release_thread();

// Where releasing is not null, a descriptor that keeps the file at path alive
// through its replacement (nothing read, no device woken); -1 otherwise.
int hold_file_to_release(ReleaseThread* releasing, const std::string& path);

// After the rename: a held file that was replaced goes to releasing to close;
// one that was not is closed here. -1 is ignored.
void release_held_file(ReleaseThread* releasing, int descriptor, bool replaced);

}  // namespace okrelt
