// Messages: every text a program prints about its work goes through the
// current message sink, where the problem is found. The console sink, the
// default, prints notes and problems on standard output and errors on
// standard error, exactly as the programs always have; a batch run sets a
// sink of its own for each unit.
#pragma once

#include <string>
#include <vector>

namespace okrelt {

enum class MessageKind {
    NOTE,      // progress, echoes and reports (standard output on the console)
    PROBLEM,   // why a unit is refused or failed (standard output on the console)
    ERROR,     // a failing system call or file (standard error on the console)
};

// Where messages go: write is called with context and each message's whole text.
struct MessageSink {
    void (*write)(void* context, MessageKind kind, const char* text);
    void* context;
};

// The console sink with problems on standard error beside the errors: for
// a program whose standard output holds its results.
MessageSink problems_on_stderr_sink();

// A sink that keeps the last problem or error in *text, without its line
// end, and drops everything else: a batch's one-line reason for a failed unit.
MessageSink last_problem_sink(std::string* text);

// Makes sink the current one of this thread until the object goes; null
// means the console. Other threads keep theirs.
class ScopedMessageSink {
public:
    explicit ScopedMessageSink(MessageSink* sink);
    ~ScopedMessageSink();
    ScopedMessageSink(const ScopedMessageSink&) = delete;
    ScopedMessageSink& operator=(const ScopedMessageSink&) = delete;

private:
    MessageSink* previous_;
};

// A sink that keeps every message with its kind, in order, for pass_messages.
struct KeptMessage {
    MessageKind kind;
    std::string text;
};
MessageSink keeping_sink(std::vector<KeptMessage>* kept);

// Hands kept messages to the current sink, in their order.
void pass_messages(const std::vector<KeptMessage>& kept);

// Formats as printf does and hands the text to the current sink.
void tell(MessageKind kind, const char* format, ...) __attribute__((format(printf, 2, 3)));

// "text: <the system's description of errno>\n", as an error.
void tell_system_error(const char* text);

// The same with an error number given.
void tell_system_error(const char* text, int error);

// Names the program in the messages that start with its name; set once, at
// the start of main, before any thread starts.
void set_program_name(const char* name);

// The name set_program_name gave ("okrelt" before).
const char* program_name();

// Makes every failed allocation of operator new end the process with one
// line, "<program>: out of memory", on standard error and exit status 1,
// after removing the temporary files of unfinished outputs.
void exit_on_out_of_memory(const char* program);

// Flushes standard output; if anything written to it was lost, prints
// "<program>: write error: <reason>" on standard error and returns 1, as GNU
// tools do. 0 otherwise.
[[nodiscard]] int check_standard_output(const char* program);

}  // namespace okrelt
