// yaml_events.cpp — positions and messages of libyaml's complaints.
#include "core/yaml_events.hpp"

namespace vorn {

namespace {

// The mark of a byte offset, for the reader's errors, which know only the offset.
yaml_mark_t mark_of_offset(std::string_view text, std::size_t offset) {
    yaml_mark_t mark{0, 0, 0};
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        const char c = text[i];
        if ((static_cast<unsigned char>(c) & 0xC0) == 0x80) continue;  // inside a character
        ++mark.index;
        if (c == '\n' || (c == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) {
            ++mark.line;
            mark.column = 0;
        } else if (c != '\r') {
            ++mark.column;
        }
    }
    return mark;
}

}  // namespace

std::string at(const yaml_mark_t& mark) {
    if (mark.index == 0) return " at position 0";
    return " at line " + std::to_string(mark.line + 1) + " column " + std::to_string(mark.column + 1);
}

std::string parser_message(const yaml_parser_t& parser, std::string_view text) {
    if (parser.error == YAML_MEMORY_ERROR) return "out of memory";
    std::string message = parser.problem ? parser.problem : "unknown error";
    if (parser.error == YAML_READER_ERROR) return message + at(mark_of_offset(text, parser.problem_offset));
    if (parser.context) message += std::string(" ") + parser.context;
    return message + at(parser.problem_mark);
}

}  // namespace vorn
