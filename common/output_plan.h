// A run's output plan: every file a program will read and write, checked
// before anything is written. An output is refused when the file it
// resolves to (links followed; device and inode where it exists) is one of
// the run's inputs or another of its outputs, or when its name is a
// symbolic link, which would write through to a file outside the run.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <unordered_map>

namespace okrelt {

// A file's identity on its file system.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity& other) const { return device == other.device && inode == other.inode; }
};

struct FileIdentityHash {
    size_t operator()(const FileIdentity& identity) const;
};

// The identity of the file path names, links followed. false where there is none.
bool file_identity(const std::string& path, FileIdentity* identity);

// An output's place: the folder it goes into (by identity where the folder
// exists, otherwise by its path as written) and its name there.
struct OutputPlace {
    FileIdentity folder;
    std::string folder_path;   // empty where the folder's identity is known
    std::string name;
    bool operator==(const OutputPlace& other) const {
        return folder == other.folder && folder_path == other.folder_path && name == other.name;
    }
};

struct OutputPlaceHash {
    size_t operator()(const OutputPlace& place) const;
};

struct PlannedOutput {
    std::string path;
    std::string owner;   // what it is written for, as messages name it (a unit, an option)
};

// Every input and output of a run; the time to plan a file does not grow with their number.
struct OutputPlan {
    std::unordered_map<FileIdentity, std::string, FileIdentityHash> inputs;   // and the path they were named by
    std::unordered_map<OutputPlace, PlannedOutput, OutputPlaceHash> outputs;
};

// Adds path to the inputs where it exists (links followed); a missing input
// adds nothing, its reader reporting it.
void plan_input(OutputPlan* plan, const std::string& path);

// Adds path to the outputs, written for owner. 0, or 1 after a message that
// names path and the file it clashes with (the run then writes nothing).
[[nodiscard]] int plan_output(OutputPlan* plan, const std::string& path, const std::string& owner);

}  // namespace okrelt
