// Which format a work-unit file is in, and the soft links of BOINC slot
// folders. The first tag decides, after what XML allows before it (a
// byte-order mark, white space, an <?xml ...?> declaration, comments):
// "<workunit" (the tag's whole name) starts a later-format unit,
// "<soft_link>" a link, anything else is classic and is read exactly as it
// always was. Only regular files are read: a device or a pipe could be read
// forever, and opening a named pipe would wait for a writer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/messages.h"
#include "workunit/format.h"
#include "workunit/reader.h"
#include "workunit/reader_internal.h"

namespace okrelt {

namespace {

enum class FileKind { CLASSIC, LATER, SOFT_LINK };

constexpr size_t FIRST_LOOK = 512;                // most units show their first tag in this
constexpr size_t PROLOG_LIMIT = size_t{1} << 16;   // what may stand before the first tag
constexpr size_t LINK_FILE_LIMIT = 4096;          // a link's file: a path and its tags, well below this
constexpr const char* BYTE_ORDER_MARK = "\xEF\xBB\xBF";

// The file's start: up to limit bytes, then back to the start. 0, or 1 after a message.
int read_start(std::FILE* file, const char* path, size_t limit, std::string* start) {
    start->resize(limit);
    errno = 0;   // read by the report of a failed read
    start->resize(std::fread(start->data(), 1, limit, file));
    if (std::ferror(file) || std::fseek(file, 0, SEEK_SET) != 0) {
        report_read_error(path);
        return 1;
    }
    return 0;
}

// Where the first tag that is not a declaration or a comment begins (or
// where the text stops being blank), past a byte-order mark.
size_t first_tag(const std::string& start) {
    size_t at = start.compare(0, 3, BYTE_ORDER_MARK) == 0 ? 3 : 0;
    for (;;) {
        while (at < start.size() && is_blank(start[at])) ++at;
        const char* end_mark = start.compare(at, 2, "<?") == 0 ? "?>" : start.compare(at, 4, "<!--") == 0 ? "-->" : nullptr;
        if (end_mark == nullptr) return at;
        const size_t end = start.find(end_mark, at);
        if (end == std::string::npos) return start.size();
        at = end + std::strlen(end_mark);
    }
}

// 0 with *kind set, or 1 after a message.
int detect_kind(std::FILE* file, const char* path, FileKind* kind) {
    const size_t tag_length = std::strlen(WORK_UNIT_TAG);
    std::string start;
    size_t at = 0;
    // A longer look only where declarations or comments fill the first.
    for (size_t limit = FIRST_LOOK; limit <= PROLOG_LIMIT; limit *= 2) {
        if (read_start(file, path, limit, &start) != 0) return 1;
        at = first_tag(start);
        if (start.size() < limit || at + std::strlen(SOFT_LINK_TAG) < start.size()) break;
    }
    const char after_tag = at + tag_length < start.size() ? start[at + tag_length] : '\0';
    if (start.compare(at, tag_length, WORK_UNIT_TAG) == 0 &&
        (after_tag == '\0' || after_tag == '>' || after_tag == '/' || is_blank(after_tag))) {
        *kind = FileKind::LATER;
    } else if (start.compare(at, std::strlen(SOFT_LINK_TAG), SOFT_LINK_TAG) == 0) {
        *kind = FileKind::SOFT_LINK;
    } else {
        *kind = FileKind::CLASSIC;
    }
    return 0;
}

// The path a link names, taken relative to the link file's folder. The tags
// and the path may stand on one line or several. 0, or 1 after a message.
int read_link_target(std::FILE* file, const char* path, std::string* target) {
    std::string text;
    if (read_start(file, path, LINK_FILE_LIMIT, &text) != 0) return 1;
    const size_t open_tag = text.find(SOFT_LINK_TAG, first_tag(text));
    const size_t from = open_tag + std::strlen(SOFT_LINK_TAG);
    const size_t close_tag = text.find(SOFT_LINK_END_TAG, from);
    *target = close_tag == std::string::npos ? std::string() : trimmed(text, from, close_tag);
    if (target->empty() || target->find_first_of("\r\n") != std::string::npos) {
        tell(MessageKind::PROBLEM, "Corrupt work unit: %s is a <soft_link> that names no file.\n", path);
        return 1;
    }
    const char* slash = std::strrchr(path, '/');
    if ((*target)[0] != '/' && slash != nullptr) {
        *target = std::string(path, static_cast<size_t>(slash - path) + 1) + *target;
    }
    return 0;
}

// Opens path for reading if it is a regular file, without waiting on a
// pipe. 0 with *file set; otherwise *error_number is errno of the failed
// open, EISDIR for a folder, or 0 for another file that is not a regular
// one (a device, a pipe), and 1 is returned.
int open_regular(const char* path, FileHandle* file, int* error_number) {
    const int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        *error_number = errno;
        return 1;
    }
    struct stat status {};
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        *error_number = S_ISDIR(status.st_mode) ? EISDIR : 0;
        close(descriptor);
        return 1;
    }
    file->reset(fdopen(descriptor, "r"));
    if (!*file) {
        *error_number = errno;
        close(descriptor);
        return 1;
    }
    return 0;
}

int read_linked_work_unit(std::FILE* link, const char* path, SampleStreams* streams, WorkUnitInfo* info) {
    std::string target;
    if (read_link_target(link, path, &target) != 0) return 1;
    FileHandle file;
    int error_number = 0;
    if (open_regular(target.c_str(), &file, &error_number) != 0) {
        if (error_number != 0) {
            tell_system_error(("Error opening " + target).c_str(), error_number);
        } else {
            tell(MessageKind::PROBLEM, "Corrupt work unit: %s links to %s, which is not a regular file.\n", path,
                 target.c_str());
        }
        return 1;
    }
    FileKind kind = FileKind::CLASSIC;
    if (detect_kind(file.get(), target.c_str(), &kind) != 0) return 1;
    if (kind == FileKind::SOFT_LINK) {
        tell(MessageKind::PROBLEM, "Corrupt work unit: %s links to %s, which is a soft link itself.\n", path, target.c_str());
        return 1;
    }
    if (kind == FileKind::LATER) return read_later_work_unit(file.get(), target.c_str(), streams, info);
    return read_classic_work_unit(file.get(), target.c_str(), streams, info);
}

}  // namespace

int read_any_work_unit(std::FILE* file, const char* path, SampleStreams* streams, WorkUnitInfo* info) {
    FileKind kind = FileKind::CLASSIC;
    if (detect_kind(file, path, &kind) != 0) return 1;
    if (kind == FileKind::SOFT_LINK) return read_linked_work_unit(file, path, streams, info);
    if (kind == FileKind::LATER) return read_later_work_unit(file, path, streams, info);
    return read_classic_work_unit(file, path, streams, info);
}

int load_work_unit(const char* path, SampleStreams* streams, WorkUnitInfo* info) {
    FileHandle file;
    int error_number = 0;
    if (open_regular(path, &file, &error_number) != 0) {
        if (error_number != 0) {
            tell_system_error(("Error opening " + std::string(path)).c_str(), error_number);
        } else {
            tell(MessageKind::PROBLEM, "Work unit refused: %s is not a regular file.\n", path);
        }
        return 1;
    }
    return read_any_work_unit(file.get(), path, streams, info);
}

bool linked_unit_path(const char* path, std::string* target) {
    std::string dropped;
    MessageSink quiet = last_problem_sink(&dropped);
    const ScopedMessageSink silence(&quiet);
    FileHandle file;
    int error_number = 0;
    FileKind kind = FileKind::CLASSIC;
    if (open_regular(path, &file, &error_number) != 0 || detect_kind(file.get(), path, &kind) != 0) return false;
    return kind == FileKind::SOFT_LINK && read_link_target(file.get(), path, target) == 0;
}

}  // namespace okrelt
