// Output files written whole or not at all: the bytes go to a temporary file
// in the target's folder, which replaces the target by rename only once every
// byte is written and the file is closed. Finishing (flush, close, check) and
// publishing (the rename) are separate steps, so that several outputs of one
// unit are published only once all of them finished, and together. Until
// then an older file of the target's name stays as it was; an owner that
// goes without publishing removes its temporary file.
//
// Temporary files are made with the mode a new file gets (0666 less the
// user's umask, applied by the kernel; the process umask is never touched),
// are named within NAME_MAX whatever the target's name, and are listed in a
// registry that interrupts and the out-of-memory exit clear.
#pragma once

#include <cstddef>
#include <string>

#include "common/release_thread.h"
#include "common/stdio_file.h"

namespace okrelt {

struct OutputFile {
    FileHandle file;          // the temporary file, open for writing bytes
    std::string path;         // the target
    std::string temporary;    // beside it, until published
    int slot = -1;            // temporary's entry in the registry of unfinished files, while it has one
    int write_error = 0;      // the first error append_output_pair met
    bool finished = false;    // closed and checked: ready to publish
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
};

constexpr int NOT_A_REGULAR_FILE = -1;   // open_output's error for a device, a pipe or a socket
constexpr int TOO_MANY_OUTPUTS = -2;     // open_output's error when the registry is full
constexpr size_t MAX_UNFINISHED = 128;   // temporary files open at once, at most, in all threads

// Creates the temporary file for path. A target that exists and is not a
// regular file (a folder, a device such as /dev/null) is refused, since the
// rename would replace it rather than write into it; a symbolic link at path
// is replaced, not followed (programs refuse one beforehand: output_plan.h).
// 0, or the error number, NOT_A_REGULAR_FILE or TOO_MANY_OUTPUTS (nothing
// reported: the caller names the file as its users know it).
[[nodiscard]] int open_output(const std::string& path, OutputFile* output);

// The text for an error of open_output, finish_output or publish_outputs.
const char* describe_output_error(int error);

// Appends two runs of bytes to the temporary file in one gathered write
// straight to it, keeping the first error for finish_output (so that the
// file may be written on another thread than the one that finishes it): for
// a file that only this function writes, its stream buffering nothing.
void append_output_pair(OutputFile* output, const void* first, size_t first_size, const void* second,
                        size_t second_size);

// Flushes, checks and closes the temporary file, which stays until published
// or discarded. 0, or the error number, the temporary file then being removed.
[[nodiscard]] int finish_output(OutputFile* output);

// Renames finished outputs onto their targets, in the order given, while
// holding an exclusive lock on each target's folder, so that two processes
// publishing into one folder never interleave their sets; files they replace
// go to releasing to close, where it is not null. 0, or the error number of
// the first rename that failed (*failed then names its output; renames
// before it stay done, those after it are not made).
[[nodiscard]] int publish_outputs(OutputFile* const* outputs, size_t count, ReleaseThread* releasing = nullptr,
                                  const OutputFile** failed = nullptr);

// finish_output, then publish_outputs of this one file. 0, or the error number.
[[nodiscard]] int commit_output(OutputFile* output);

// Removes the temporary files of outputs not yet published, without
// allocating or locking: for a process that must end at once.
void remove_unfinished_outputs();

// Makes SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE remove the temporary
// files of unfinished outputs and then end the process by the same signal
// (a shell reports 128 + the signal); a signal during publish_outputs waits
// for its renames. A write past a file-size limit fails as a write (EFBIG).
// Standard output is flushed only where the program flushed it before.
void clean_up_on_interrupt();

// While one lives, an interrupt waits for it to go: for a step that must not
// be cut in two, such as files put in place and the line that says so.
class InterruptHold {
public:
    InterruptHold();
    ~InterruptHold();
    InterruptHold(const InterruptHold&) = delete;
    InterruptHold& operator=(const InterruptHold&) = delete;

private:
    bool held_;
};

}  // namespace okrelt
