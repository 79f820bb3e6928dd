#include "common/output_plan.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <functional>

#include "common/file_names.h"
#include "common/messages.h"

namespace okrelt {

namespace {

std::string link_target(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    return length < 0 ? std::string("?") : std::string(target, static_cast<size_t>(length));
}

std::string folder_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

OutputPlace place_of(const std::string& path) {
    OutputPlace place;
    place.name = base_name(path);
    if (!file_identity(folder_of(path), &place.folder)) place.folder_path = folder_of(path);
    return place;
}

}  // namespace

size_t FileIdentityHash::operator()(const FileIdentity& identity) const {
    return std::hash<uint64_t>()(static_cast<uint64_t>(identity.device) * 0x9E3779B97F4A7C15ULL ^ identity.inode);
}

size_t OutputPlaceHash::operator()(const OutputPlace& place) const {
    return FileIdentityHash()(place.folder) ^ std::hash<std::string>()(place.folder_path) * 31 ^
           std::hash<std::string>()(place.name);
}

bool file_identity(const std::string& path, FileIdentity* identity) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return false;
    *identity = FileIdentity{status.st_dev, status.st_ino};
    return true;
}

void plan_input(OutputPlan* plan, const std::string& path) {
    FileIdentity identity;
    if (file_identity(path, &identity)) plan->inputs.emplace(identity, path);
}

int plan_output(OutputPlan* plan, const std::string& path, const std::string& owner) {
    const char* program = program_name();
    struct stat status {};
    if (lstat(path.c_str(), &status) == 0) {
        if (S_ISLNK(status.st_mode)) {
            tell(MessageKind::ERROR, "%s: %s (for %s) is a symbolic link to %s; nothing written\n", program,
                 quoted(path).c_str(), quoted(owner).c_str(), quoted(link_target(path)).c_str());
            return 1;
        }
        const auto input = plan->inputs.find(FileIdentity{status.st_dev, status.st_ino});
        if (input != plan->inputs.end()) {
            tell(MessageKind::ERROR, "%s: %s (for %s) would overwrite %s, an input of this run; nothing written\n",
                 program, quoted(path).c_str(), quoted(owner).c_str(), quoted(input->second).c_str());
            return 1;
        }
    }
    const auto [other, fresh] = plan->outputs.emplace(place_of(path), PlannedOutput{path, owner});
    if (!fresh) {
        tell(MessageKind::ERROR, "%s: %s (for %s) is the same file as %s (for %s); nothing written\n", program,
             quoted(path).c_str(), quoted(owner).c_str(), quoted(other->second.path).c_str(),
             quoted(other->second.owner).c_str());
        return 1;
    }
    return 0;
}

}  // namespace okrelt
