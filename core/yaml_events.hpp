// yaml_events.hpp — owners of a libyaml parser over text in memory and of one event, and
// the texts that place a libyaml complaint or an event in the text.
#pragma once

#include <yaml.h>

#include <string>
#include <string_view>

namespace vorn {

// A UTF-8 parser over `text`, which must outlive it.
class YamlParser {
public:
    explicit YamlParser(std::string_view text) {
        ok_ = yaml_parser_initialize(&parser_) != 0;
        if (!ok_) return;
        yaml_parser_set_input_string(&parser_, reinterpret_cast<const unsigned char*>(text.data()), text.size());
        yaml_parser_set_encoding(&parser_, YAML_UTF8_ENCODING);
    }
    YamlParser(const YamlParser&) = delete;
    YamlParser& operator=(const YamlParser&) = delete;
    ~YamlParser() {
        if (ok_) yaml_parser_delete(&parser_);
    }
    bool initialized() const { return ok_; }
    yaml_parser_t* get() { return &parser_; }

private:
    yaml_parser_t parser_{};
    bool ok_ = false;
};

// The latest event pulled from a parser.
class YamlEvent {
public:
    YamlEvent() = default;
    YamlEvent(const YamlEvent&) = delete;
    YamlEvent& operator=(const YamlEvent&) = delete;
    ~YamlEvent() { clear(); }
    // Replaces the event with the parser's next one; false on a parse error.
    bool next(yaml_parser_t* parser) {
        clear();
        filled_ = yaml_parser_parse(parser, &event_) != 0;
        return filled_;
    }
    const yaml_event_t& get() const { return event_; }

private:
    void clear() {
        if (filled_) yaml_event_delete(&event_);
        filled_ = false;
    }
    yaml_event_t event_{};
    bool filled_ = false;
};

// " at line L column C" (1-based), or " at position 0" at the very start of the text.
std::string at(const yaml_mark_t& mark);

// The reader's, scanner's or parser's complaint with its position; `text` is the parsed text.
std::string parser_message(const yaml_parser_t& parser, std::string_view text);

inline std::string_view view(const yaml_char_t* s, std::size_t n) { return {reinterpret_cast<const char*>(s), n}; }
inline std::string_view view(const yaml_char_t* s) {
    return s ? std::string_view(reinterpret_cast<const char*>(s)) : std::string_view();
}

}  // namespace vorn
