// Output files written whole or not at all: the bytes go to a temporary file
// in the target's folder, which is renamed onto the target only once every
// byte is written and the file is closed. On any failure, or if the owner
// goes without committing, the temporary file is removed and an older file
// of the target's name stays as it was.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "common/stdio_file.h"

namespace okrelt {

struct OutputFile {
    FileHandle file;          // the temporary file, open for writing bytes
    std::string path;         // the target
    std::string temporary;    // beside it, until committed
    int write_error = 0;      // the first error append_output_pair or start_writeback met, for commit_output
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
};

constexpr int NOT_A_REGULAR_FILE = -1;   // open_output's error for a device, a pipe or a socket

// Creates the temporary file for path; a symbolic link is followed, so that
// the file it names is the one replaced. A target that exists and is not a
// regular file (a folder, a device such as /dev/null) is refused, since the
// rename would replace it rather than write into it. 0, or the error number
// or NOT_A_REGULAR_FILE (nothing reported: the caller names the file as its
// users know it).
[[nodiscard]] int open_output(const std::string& path, OutputFile* output);

// The text for an error of open_output or commit_output.
const char* describe_output_error(int error);

// Appends two runs of bytes to the temporary file in one gathered write
// straight to it, keeping the first error for commit_output (so that the
// file may be written on another thread than the one that commits it): for
// a file that only this function writes, its stream buffering nothing. A
// write that starts on a multiple of its length in the file lets the kernel
// keep it in one large piece of memory.
void append_output_pair(OutputFile* output, const void* first, size_t first_size, const void* second,
                        size_t second_size);

// Hands what the temporary file holds so far to the kernel and has it start
// writing that to the disk, without waiting. Only a hint, for speed: ext4
// allocates and submits a file's unwritten data when it replaces another by
// rename, so a file written out as it grows commits at once.
void start_writeback(OutputFile* output);

// Flushes, checks and closes the temporary file and renames it onto the
// target. 0, or the error number, the temporary file then being removed.
[[nodiscard]] int commit_output(OutputFile* output);

// Replacing a file drops its storage, and where the file system tells the
// disk of every block it frees (ext4 mounted with discard) the rename waits
// for the disk (docs/performance.md). While a release thread runs,
// commit_output keeps the file it replaces open through the rename and hands
// it to that thread, whose closing then waits instead.
class ReleaseThread;
struct ReleaseThreadEnd {
    void operator()(ReleaseThread* thread) const;   // closes every file handed over, then joins the thread
};
using ReleaseThreadPtr = std::unique_ptr<ReleaseThread, ReleaseThreadEnd>;

// Starts the release thread, for a process with more to do after a commit;
// null where one runs already or no thread can be started (each rename then
// drops its file as before). Ended only once no thread commits any more.
ReleaseThreadPtr start_release_thread();

// Removes the temporary files of outputs not yet committed, without
// allocating: for a process that must end at once (out of memory).
void remove_unfinished_outputs();

}  // namespace okrelt
