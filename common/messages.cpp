#include "common/messages.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include <unistd.h>

#include "common/output_file.h"

namespace okrelt {

namespace {

constexpr size_t SHORT_MESSAGE = 256;   // most messages fit without a heap buffer

void write_to_console(void* /*context*/, MessageKind kind, const char* text) {
    if (kind == MessageKind::ERROR) {
        // Flushed first, so that piped messages keep their order.
        std::fflush(stdout);
        std::fputs(text, stderr);
    } else {
        std::fputs(text, stdout);
    }
}

void write_problems_to_stderr(void* context, MessageKind kind, const char* text) {
    write_to_console(context, kind == MessageKind::NOTE ? MessageKind::NOTE : MessageKind::ERROR, text);
}

void keep_last_problem(void* context, MessageKind kind, const char* text) {
    if (kind == MessageKind::NOTE) return;
    auto* kept = static_cast<std::string*>(context);
    *kept = text;
    while (!kept->empty() && (kept->back() == '\n' || kept->back() == '\r')) kept->pop_back();
}

MessageSink console_sink{write_to_console, nullptr};
const char* current_program = "okrelt";

// Nothing here may allocate: the heap is exhausted.
void out_of_memory() {
    std::fflush(stdout);
    std::fputs(current_program, stderr);
    std::fputs(": out of memory\n", stderr);
    remove_unfinished_outputs();
    _exit(1);
}
thread_local MessageSink* current_sink = &console_sink;   // each thread's own

}  // namespace

MessageSink problems_on_stderr_sink() { return MessageSink{write_problems_to_stderr, nullptr}; }

MessageSink last_problem_sink(std::string* text) { return MessageSink{keep_last_problem, text}; }

MessageSink keeping_sink(std::vector<KeptMessage>* kept) {
    return MessageSink{[](void* context, MessageKind kind, const char* text) {
                           static_cast<std::vector<KeptMessage>*>(context)->push_back({kind, text});
                       },
                       kept};
}

void pass_messages(const std::vector<KeptMessage>& kept) {
    for (const KeptMessage& message : kept) current_sink->write(current_sink->context, message.kind, message.text.c_str());
}

ScopedMessageSink::ScopedMessageSink(MessageSink* sink) : previous_(current_sink) {
    current_sink = sink != nullptr ? sink : &console_sink;
}

ScopedMessageSink::~ScopedMessageSink() { current_sink = previous_; }

void tell(MessageKind kind, const char* format, ...) {
    char buffer[SHORT_MESSAGE];
    va_list arguments;
    va_start(arguments, format);
    va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    if (length >= 0 && static_cast<size_t>(length) < sizeof buffer) {
        current_sink->write(current_sink->context, kind, buffer);
    } else if (length >= 0) {
        std::vector<char> text(static_cast<size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        current_sink->write(current_sink->context, kind, text.data());
    }
    va_end(again);
}

void tell_system_error(const char* text) { tell_system_error(text, errno); }

void tell_system_error(const char* text, int error) { tell(MessageKind::ERROR, "%s: %s\n", text, std::strerror(error)); }

void set_program_name(const char* name) { current_program = name; }

const char* program_name() { return current_program; }

void exit_on_out_of_memory(const char* name) {
    current_program = name;
    std::set_new_handler(out_of_memory);
}

int check_standard_output(const char* program) {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
    const int error = errno != 0 ? errno : EIO;
    std::fprintf(stderr, "%s: write error: %s\n", program, std::strerror(error));
    return 1;
}

}  // namespace okrelt
