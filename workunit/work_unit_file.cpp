// Which format a work-unit file is in, and the soft links of BOINC slot
// folders. The first line decides: "<workunit" (the tag's whole name) starts
// a later-format unit, "<soft_link>" a link, anything else is classic and is
// read exactly as it always was.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "workunit/format.h"
#include "workunit/reader.h"
#include "workunit/reader_internal.h"

namespace okrelt {

namespace {

enum FileKind { KIND_CLASSIC, KIND_LATER, KIND_SOFT_LINK };

constexpr int LINK_LINE_LIMIT = 4097;   // a link's line: a path, well below this

// Looks at the first characters after leading white space, then goes back to
// the start of the file. 0 with *kind set, or 1 after a message.
int detect_kind(std::FILE* file, const char* path, FileKind* kind) {
    int c = std::getc(file);
    while (c != EOF && is_blank(c)) c = std::getc(file);
    char start[sizeof "<soft_link>"] = {};
    size_t n = 0;
    while (c != EOF && n + 1 < sizeof start) {
        start[n++] = static_cast<char>(c);
        if (n + 1 < sizeof start) c = std::getc(file);
    }
    if (std::ferror(file) || std::fseek(file, 0, SEEK_SET) != 0) {
        report_read_error(path);
        return 1;
    }
    const size_t tag_length = std::strlen(WORK_UNIT_TAG);
    const char after_tag = start[tag_length];
    if (std::strncmp(start, WORK_UNIT_TAG, tag_length) == 0 &&
        (after_tag == '\0' || after_tag == '>' || after_tag == '/' || is_blank(after_tag))) {
        *kind = KIND_LATER;
    } else if (std::strncmp(start, SOFT_LINK_TAG, std::strlen(SOFT_LINK_TAG)) == 0) {
        *kind = KIND_SOFT_LINK;
    } else {
        *kind = KIND_CLASSIC;
    }
    return 0;
}

// The path a link's line names, taken relative to the link file's folder.
// 0, or 1 after a message.
int read_link_target(std::FILE* file, const char* path, std::string* target) {
    char line[LINK_LINE_LIMIT];
    int length = 0;
    if (read_piece(file, line, LINK_LINE_LIMIT, &length) == PIECE_ERROR) {
        report_read_error(path);
        return 1;
    }
    const std::string text(line, static_cast<size_t>(length));
    const size_t open = text.find(SOFT_LINK_TAG);
    const size_t close = text.find(SOFT_LINK_END_TAG);
    const size_t from = open + std::strlen(SOFT_LINK_TAG);
    *target = trimmed(text, from, close == std::string::npos ? from : close);
    if (target->empty()) {
        std::printf("Corrupt work unit: %s is a <soft_link> that names no file.\n", path);
        return 1;
    }
    const char* slash = std::strrchr(path, '/');
    if ((*target)[0] != '/' && slash != nullptr) {
        *target = std::string(path, static_cast<size_t>(slash - path) + 1) + *target;
    }
    return 0;
}

int read_linked_work_unit(std::FILE* link, const char* path, SampleStreams* streams, WorkUnitInfo* info) {
    std::string target;
    if (read_link_target(link, path, &target) != 0) return 1;
    // Opened without waiting: a named pipe would block the open itself, and
    // a device or a pipe could be read forever; a work unit is a file.
    const int descriptor = open(target.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        report_system_error(("Error opening " + target).c_str());
        return 1;
    }
    struct stat status {};
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(descriptor);
        std::printf("Corrupt work unit: %s links to %s, which is not a regular file.\n", path, target.c_str());
        return 1;
    }
    FileHandle file(fdopen(descriptor, "r"));
    if (!file) {
        close(descriptor);
        report_system_error(("Error opening " + target).c_str());
        return 1;
    }
    FileKind kind = KIND_CLASSIC;
    if (detect_kind(file.get(), target.c_str(), &kind) != 0) return 1;
    if (kind == KIND_SOFT_LINK) {
        std::printf("Corrupt work unit: %s links to %s, which is a soft link itself.\n", path, target.c_str());
        return 1;
    }
    if (kind == KIND_LATER) return read_later_work_unit(file.get(), target.c_str(), streams, info);
    return read_classic_work_unit(file.get(), target.c_str(), streams, info);
}

}  // namespace

int read_any_work_unit(std::FILE* file, const char* path, SampleStreams* streams, WorkUnitInfo* info) {
    FileKind kind = KIND_CLASSIC;
    if (detect_kind(file, path, &kind) != 0) return 1;
    if (kind == KIND_SOFT_LINK) return read_linked_work_unit(file, path, streams, info);
    if (kind == KIND_LATER) return read_later_work_unit(file, path, streams, info);
    return read_classic_work_unit(file, path, streams, info);
}

int load_work_unit(const char* path, SampleStreams* streams, WorkUnitInfo* info) {
    FileHandle file(std::fopen(path, "r"));
    if (!file) {
        report_system_error(("Error opening " + std::string(path)).c_str());
        return 1;
    }
    return read_any_work_unit(file.get(), path, streams, info);
}

}  // namespace okrelt
