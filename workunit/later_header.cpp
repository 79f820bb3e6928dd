// The later, XML-wrapped format's header. It is not strict XML (an unquoted
// attribute, <name> and <sample_rate> more than once), so fields are found as
// the first element of their name inside the section that owns them; a
// start tag may carry attributes or blanks before its ">".
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/messages.h"
#include "common/numbers.h"
#include "workunit/format.h"
#include "workunit/header_values.h"
#include "workunit/reader.h"
#include "workunit/reader_internal.h"

namespace okrelt {

namespace {

constexpr size_t MAX_HEADER_BYTES = size_t{1} << 20;   // real headers are below 16 KiB

// The first start tag <tag> (or <tag attributes>, <tag >, <tag/>) at or
// after from: *start is its "<", *content the first character after its ">".
// *empty for a self-closing tag. False if there is none.
bool find_start_tag(const std::string& text, size_t from, const char* tag, size_t* start, size_t* content,
                    bool* empty) {
    const std::string open = std::string("<") + tag;
    for (size_t at = text.find(open, from); at != std::string::npos; at = text.find(open, at + 1)) {
        const size_t after = at + open.size();
        if (after >= text.size() || !(text[after] == '>' || text[after] == '/' || is_blank(text[after]))) continue;
        const size_t close = text.find('>', after);
        if (close == std::string::npos) return false;
        *start = at;
        *content = close + 1;
        *empty = text[close - 1] == '/';
        return true;
    }
    return false;
}

// The first end tag </tag> (or </tag >) at or after from; npos if none.
size_t find_end_tag(const std::string& text, size_t from, const char* tag) {
    const std::string close = std::string("</") + tag;
    for (size_t at = text.find(close, from); at != std::string::npos; at = text.find(close, at + 1)) {
        size_t after = at + close.size();
        while (after < text.size() && is_blank(text[after])) ++after;
        if (after < text.size() && text[after] == '>') return at;
    }
    return std::string::npos;
}

// The text of the first <tag>...</tag> that starts inside [from, to),
// trimmed. False if there is none.
bool find_element(const std::string& header, size_t from, size_t to, const char* tag, std::string* value) {
    size_t start = 0;
    size_t content = 0;
    bool empty = false;
    if (!find_start_tag(header, from, tag, &start, &content, &empty) || start >= to) return false;
    if (empty) {
        value->clear();
        return true;
    }
    const size_t end = find_end_tag(header, content, tag);
    if (end == std::string::npos || end > to) return false;
    *value = trimmed(header, content, end);
    return true;
}

// The range of the first <tag>...</tag> section, or [0, 0) if there is none.
void find_section(const std::string& header, const char* tag, size_t* from, size_t* to) {
    *from = 0;
    *to = 0;
    size_t start = 0;
    size_t content = 0;
    bool empty = false;
    if (!find_start_tag(header, 0, tag, &start, &content, &empty) || empty) return;
    const size_t end = find_end_tag(header, content, tag);
    *from = content;
    *to = end == std::string::npos ? header.size() : end;
}

// The value of the encoding attribute of the data tag's line, quoted or not.
std::string encoding_of(const std::string& tag_line) {
    const size_t key = tag_line.find("encoding=");
    if (key == std::string::npos) return "";
    size_t at = key + std::strlen("encoding=");
    if (at < tag_line.size() && (tag_line[at] == '"' || tag_line[at] == '\'')) {
        const char quote = tag_line[at++];
        const size_t end = tag_line.find(quote, at);
        return end == std::string::npos ? "" : tag_line.substr(at, end - at);
    }
    size_t end = at;
    while (end < tag_line.size() && !is_blank(tag_line[end]) && tag_line[end] != '>') ++end;
    return tag_line.substr(at, end - at);
}

// True if the line, leading blanks skipped, starts with the tag; for "<data"
// the tag name must end there, at a ">", a blank or the line's end (the
// attributes may follow on the next lines).
bool line_starts_with_tag(const char* line, const char* tag) {
    while (*line == ' ' || *line == '\t') ++line;
    const size_t length = std::strlen(tag);
    if (std::strncmp(line, tag, length) != 0) return false;
    const char next = line[length];
    return tag[length - 1] == '>' || next == '>' || is_blank(next);
}

// Reads whole lines into header until the data tag's line, which goes to
// tag_line. *line_number counts the lines read. 0, or 1 after a message.
int read_header(PieceSource* source, const char* path, std::string* header, std::string* tag_line, long* line_number) {
    char piece[DATA_PIECE_LIMIT];
    std::string line;
    for (;;) {
        int length = 0;
        const PieceStatus status = read_piece(source, piece, DATA_PIECE_LIMIT, &length);
        if (status == PieceStatus::ERROR) {
            report_read_error(path);
            return 1;
        }
        line.append(piece, static_cast<size_t>(length));
        const bool line_ended = length > 0 && piece[length - 1] == '\n';
        if (line_ended || status == PieceStatus::AT_END) {
            ++*line_number;
            // The data tag may run over several lines, up to its ">".
            if (!tag_line->empty() || line_starts_with_tag(line.c_str(), DATA_TAG)) {
                *tag_line += line;
                if (tag_line->find('>') != std::string::npos) return 0;
            } else {
                *header += line;
            }
            line.clear();
        }
        if (header->size() + tag_line->size() + line.size() > MAX_HEADER_BYTES) {
            tell(MessageKind::PROBLEM, "Corrupt work unit: no <data> tag in its first %zu bytes.\n", MAX_HEADER_BYTES);
            return 1;
        }
        if (status == PieceStatus::AT_END) {
            tell(MessageKind::PROBLEM, "Corrupt work unit: no <data> tag.\n");
            return 1;
        }
    }
}

// The receiver's name and place. <glon>, <glat>, <galt> count longitude
// east; where a unit lacks them, <longitude>, <latitude>, <elevation> are
// taken as they stand (Arecibo's counts east too; Green Bank's west, which is
// why its <glon> is preferred).
void read_receiver(const std::string& header, WorkUnitInfo* info) {
    size_t from = 0;
    size_t to = 0;
    find_section(header, "receiver_cfg", &from, &to);
    if (from >= to) return;
    (void)find_element(header, from, to, "name", &info->receiver);
    std::string lon;
    std::string lat;
    std::string alt;
    const bool global = find_element(header, from, to, "glon", &lon) && find_element(header, from, to, "glat", &lat);
    if (global) {
        (void)find_element(header, from, to, "galt", &alt);
    } else if (!(find_element(header, from, to, "longitude", &lon) && find_element(header, from, to, "latitude", &lat))) {
        return;
    } else {
        (void)find_element(header, from, to, "elevation", &alt);
    }
    Geolocation place;
    if (!parse_real(lon, &place.longitude) || !parse_real(lat, &place.latitude)) return;
    place.altitude = real_value(alt);
    info->geolocation = place;
}

// Reads the fields the conversion needs into info and *declared_count
// (*assumed: the default, the header giving no usable count), printing the
// unit's line and the count. 0, or 1 after printing why the unit is refused.
int parse_header(const std::string& header, const std::string& tag_line, const char* path, WorkUnitInfo* info,
                 int32_t* declared_count, bool* assumed) {
    info->later_format = true;
    std::string text;
    const std::string encoding = encoding_of(tag_line);
    if (encoding != DATA_ENCODING) {
        tell(MessageKind::PROBLEM, "Work unit refused: its data is encoded as \"%s\"; %s reads \"%s\" only.\n",
                    encoding.c_str(), program_name(), DATA_ENCODING);
        return 1;
    }

    size_t from = 0;
    size_t to = 0;
    find_section(header, "splitter_cfg", &from, &to);
    info->bits_per_sample = DEFAULT_BITS_PER_SAMPLE;
    if (find_element(header, from, to, "wu_bits_per_sample", &text)) {
        // 0 stands for the default depth.
        int64_t bits = 0;
        if (!parse_integer(text, 0, INT32_MAX, &bits) || !(bits == 0 || bits == 2 || bits == 4)) {
            tell(MessageKind::PROBLEM, "Work unit refused: <wu_bits_per_sample> is \"%s\"; %s reads 2 or 4 bits per sample.\n",
                        text.c_str(), program_name());
            return 1;
        }
        if (bits != 0) info->bits_per_sample = static_cast<int>(bits);
    }

    find_section(header, "subband_desc", &from, &to);
    char default_rate[32];
    std::snprintf(default_rate, sizeof default_rate, "%.10g", DEFAULT_SUBBAND_RATE);
    std::string rate_text = default_rate;
    if (find_element(header, from, to, "sample_rate", &text)) {
        rate_text = text;
        double rate = 0.0;
        if (!parse_real(text, &rate) || !plausible_subband_rate(rate)) {
            tell(MessageKind::PROBLEM, "Work unit refused: sub-band <sample_rate> \"%s\" does not give a sound rate of %u to %u Hz.\n",
                        text.c_str(), MIN_SOUND_RATE, MAX_SOUND_RATE);
            return 1;
        }
        info->subband_rate = rate;
        info->subband_rate_known = true;
        info->sound_rate = static_cast<uint32_t>(std::round(2.0 * rate));
    }
    if (find_element(header, from, to, "center", &text)) info->center_hz = real_value(text);
    if (!find_element(header, 0, header.size(), "name", &info->name)) info->name.clear();
    (void)find_element(header, 0, header.size(), "time_recorded", &info->time_recorded);
    const auto number = [&header](const char* tag) {
        std::string value;
        return find_element(header, 0, header.size(), tag, &value) ? real_value(value) : std::nullopt;
    };
    info->start_ra_hours = number("start_ra");
    info->start_dec_degrees = number("start_dec");
    info->end_ra_hours = number("end_ra");
    info->end_dec_degrees = number("end_dec");
    info->time_recorded_jd = number("time_recorded_jd");
    find_section(header, "tape_info", &from, &to);
    if (from < to) (void)find_element(header, from, to, "name", &info->tape_name);
    read_receiver(header, info);

    tell(MessageKind::NOTE, "Work unit %s: %d bits per sample, %s Hz\n", info->name.empty() ? path : info->name.c_str(),
                info->bits_per_sample, rate_text.c_str());
    leave_out_implausible_values(info);
    // One line says which count is read: the header's, or the default where
    // the header has none, an unreadable one or one of 0 or below.
    *declared_count = DEFAULT_NSAMPLES;
    *assumed = true;
    int64_t count = 0;
    if (!find_element(header, 0, header.size(), "nsamples", &text)) {
        tell(MessageKind::NOTE, "nsamples= header not found, assuming default of 1048576 samples.\n");
    } else if (!parse_integer(text, INT32_MIN, INT32_MAX, &count)) {
        tell(MessageKind::NOTE, "Failed to parse nsamples= header, assuming default of 1048576 samples.\n");
    } else if (count <= 0) {
        tell(MessageKind::NOTE, "nsamples=%d declares no samples, assuming default of 1048576 samples.\n",
             static_cast<int32_t>(count));
    } else {
        tell(MessageKind::NOTE, "nsamples=%d\n", static_cast<int32_t>(count));
        *declared_count = static_cast<int32_t>(count);
        *assumed = false;
    }
    return 0;
}

}  // namespace

int read_later_header(PieceSource* source, const char* path, WorkUnitInfo* info, int32_t* declared_count,
                      bool* assumed, long* line_number) {
    std::string header;
    std::string tag_line;
    if (read_header(source, path, &header, &tag_line, line_number) != 0) return 1;
    return parse_header(header, tag_line, path, info, declared_count, assumed);
}

}  // namespace okrelt
