// config_parse.cpp — the configuration document read from libyaml's events: the root
// mapping's keys of the parameter record, ignored unknown keys, duplicates, anchors and
// aliases with a bounded expansion count, a bounded nesting depth, and the one-document rule.
#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/config.hpp"
#include "core/config_scalars.hpp"
#include "core/siso/param_table.hpp"
#include "core/yaml_events.hpp"

namespace vorn {

namespace {

// Far beyond any real configuration; stops libyaml early, whose cost grows with depth.
constexpr std::size_t kMaxDepth = 1000;
// Alias expansions allowed per event of the document.
constexpr std::uint64_t kRepetitionsPerEvent = 100;

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    return a > std::numeric_limits<std::uint64_t>::max() - b ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

// The known keys are the record's fields (kSisoFields, by their `yaml` names); an index
// into that table names the key whose value comes next, kIgnored any other key.
constexpr std::size_t kIgnored = kSisoFields.size();

std::size_t key_index(std::string_view name) {
    const auto it = std::ranges::find_if(kSisoFields, [&](const SisoField& f) { return f.yaml == name; });
    return static_cast<std::size_t>(it - kSisoFields.begin());  // kIgnored when no field has that name
}

// A scalar as the value of a key: its text, style and explicit tag (empty when none).
struct ScalarView {
    std::string_view value;
    yaml_scalar_style_t style;
    std::string_view tag;
};

// What an anchor names: a scalar (its text kept for aliases of known keys) or a
// collection, with the alias expansions a full replay of the node would make.
struct Anchor {
    bool scalar = false;
    bool mapping = false;
    std::string value;
    yaml_scalar_style_t style = YAML_PLAIN_SCALAR_STYLE;
    std::string tag;
    std::uint64_t repetitions = 0;
};

// One open collection.
struct Frame {
    bool mapping;
    bool anchored;
    std::string anchor;
    std::uint64_t repetitions = 0;  // expansions by aliases in this collection so far
};

// Why an unsigned integer was refused, in UnsignedError's order.
constexpr const char* kUnsignedWhy[] = {"not an unsigned integer", "negative integer",
                                        "integer does not fit in 64 bits"};

// Untagged, or an integer for a count, a number for a real, a number or null for a limit.
bool tag_allowed(FieldKind kind, std::string_view tag) {
    const bool integer = tag == "tag:yaml.org,2002:int";
    if (tag.empty() || integer) return true;
    if (kind == FieldKind::Count) return false;
    return tag == "tag:yaml.org,2002:float" || (kind == FieldKind::Limit && tag == "tag:yaml.org,2002:null");
}

// What a value of each field kind must be, in FieldKind's order.
constexpr const char* kExpectedText[] = {"a number", "an unsigned integer", "a number or null"};

bool is_bool_spelling(std::string_view s) {
    return s == "true" || s == "True" || s == "TRUE" || s == "false" || s == "False" || s == "FALSE";
}

// Reads the events in one pass, keeping only a stack of open collections (bounded by
// kMaxDepth) and the anchors. Nodes are never replayed: a known key needs only a scalar,
// and every anchor records how many alias expansions a full replay of its node would make,
// so following an alias costs constant time while the count still bounds the document.
class ConfigReader {
public:
    // `ignored`, when given, receives the root mapping's keys that name no field of the record.
    explicit ConfigReader(std::string_view text, std::vector<IgnoredKey>* ignored = nullptr)
        : text_(text), ignored_(ignored) {}

    // The record before validation, or the reader's message.
    Expected<SisoParams, std::string> read();

private:
    enum class Root { None, Empty, Mapping, Done };
    enum class Role { Root, RootKey, RootValue, Nested };

    Status<std::string> on_event(const yaml_event_t& e);
    Status<std::string> on_document_start(const yaml_event_t& e);
    Status<std::string> on_document_end();
    Status<std::string> on_scalar(const yaml_event_t& e);
    Status<std::string> on_alias(const yaml_event_t& e);
    Status<std::string> on_collection_start(const yaml_event_t& e, bool mapping);
    Status<std::string> on_collection_end();

    Role role() const;
    // A node at the root mapping's level is complete: key → value → key.
    void node_done_at_root();
    // A key or a value in the root mapping: the scalar `s`, or a collection when it is null.
    Status<std::string> root_node(const ScalarView* s, bool mapping, const yaml_mark_t& mark);
    Status<std::string> take_key(std::string_view name, const yaml_mark_t& mark);
    Status<std::string> assign(const ScalarView& s, const yaml_mark_t& mark);
    std::string type_error(const char* found, const yaml_mark_t& mark) const;

    std::string_view text_;
    std::vector<IgnoredKey>* ignored_;
    SisoParams params_;
    std::array<bool, kSisoFields.size()> seen_{};
    std::size_t documents_ = 0;
    Root root_ = Root::None;
    bool expect_key_ = true;
    std::size_t pending_ = kIgnored;  // the key whose value comes next
    std::vector<Frame> frames_;
    std::unordered_map<std::string, Anchor> anchors_;
    std::uint64_t document_events_ = 0;
    std::uint64_t document_repetitions_ = 0;
};

Expected<SisoParams, std::string> ConfigReader::read() {
    YamlParser parser(text_);
    if (!parser.initialized()) return std::string("out of memory");
    YamlEvent event;
    for (;;) {
        if (!event.next(parser.get())) return parser_message(*parser.get(), text_);
        const yaml_event_t& e = event.get();
        if (e.type == YAML_STREAM_END_EVENT) break;
        if (auto err = on_event(e)) return *err;
    }
    return params_;
}

Status<std::string> ConfigReader::on_event(const yaml_event_t& e) {
    ++document_events_;
    switch (e.type) {
        case YAML_DOCUMENT_START_EVENT: return on_document_start(e);
        case YAML_DOCUMENT_END_EVENT: return on_document_end();
        case YAML_SCALAR_EVENT: return on_scalar(e);
        case YAML_ALIAS_EVENT: return on_alias(e);
        case YAML_SEQUENCE_START_EVENT: return on_collection_start(e, false);
        case YAML_MAPPING_START_EVENT: return on_collection_start(e, true);
        case YAML_SEQUENCE_END_EVENT:
        case YAML_MAPPING_END_EVENT: return on_collection_end();
        default: return std::nullopt;
    }
}

Status<std::string> ConfigReader::on_document_start(const yaml_event_t& e) {
    if (++documents_ > 1) return "more than one document in the file" + at(e.start_mark);
    document_events_ = 1;
    document_repetitions_ = 0;
    anchors_.clear();
    return std::nullopt;
}

Status<std::string> ConfigReader::on_document_end() {
    anchors_.clear();
    if (document_repetitions_ > document_events_ * kRepetitionsPerEvent) return std::string("repetition limit exceeded");
    return std::nullopt;
}

ConfigReader::Role ConfigReader::role() const {
    if (frames_.empty()) return Role::Root;
    if (frames_.size() == 1 && root_ == Root::Mapping) return expect_key_ ? Role::RootKey : Role::RootValue;
    return Role::Nested;
}

void ConfigReader::node_done_at_root() {
    if (frames_.size() != 1 || root_ != Root::Mapping) return;
    if (!expect_key_) pending_ = kIgnored;
    expect_key_ = !expect_key_;
}

std::string ConfigReader::type_error(const char* found, const yaml_mark_t& mark) const {
    const SisoField& key = kSisoFields[pending_];
    return std::string("invalid type: ") + found + ", expected " + kExpectedText[static_cast<int>(key.kind)] +
           " for `" + key.yaml + "`" + at(mark);
}

Status<std::string> ConfigReader::take_key(std::string_view name, const yaml_mark_t& mark) {
    pending_ = key_index(name);
    if (pending_ == kIgnored) {
        if (ignored_) ignored_->push_back(IgnoredKey{std::string(name), false, mark.line + 1, mark.column + 1});
        return std::nullopt;
    }
    if (seen_[pending_]) return "duplicate field `" + std::string(name) + "`" + at(mark);
    seen_[pending_] = true;
    return std::nullopt;
}

// A collection as a key is never a field of the record; as the value of a known key it is
// the wrong type.
Status<std::string> ConfigReader::root_node(const ScalarView* s, bool mapping, const yaml_mark_t& mark) {
    if (role() == Role::RootKey) {
        if (s) return take_key(s->value, mark);
        pending_ = kIgnored;
        if (ignored_) ignored_->push_back(IgnoredKey{std::string(), true, mark.line + 1, mark.column + 1});
    } else if (role() == Role::RootValue && pending_ != kIgnored) {
        if (!s) return type_error(mapping ? "mapping" : "sequence", mark);
        return assign(*s, mark);
    }
    return std::nullopt;
}

// The value of the pending known key, from a scalar given directly or through an alias.
Status<std::string> ConfigReader::assign(const ScalarView& s, const yaml_mark_t& mark) {
    const SisoField& field = kSisoFields[pending_];
    const FieldKind kind = field.kind;
    if (s.style != YAML_PLAIN_SCALAR_STYLE) {
        const bool block = s.style == YAML_LITERAL_SCALAR_STYLE || s.style == YAML_FOLDED_SCALAR_STYLE;
        return type_error(block ? "block scalar" : "quoted string", mark);
    }
    if (!tag_allowed(kind, s.tag)) return type_error(("scalar tagged " + std::string(s.tag)).c_str(), mark);
    const std::string_view name = field.yaml;
    if (kind == FieldKind::Limit && is_null_spelling(s.value)) {
        (params_.*field.limit).reset();
        return std::nullopt;
    }
    if (s.tag == "tag:yaml.org,2002:null") return type_error("non-null scalar tagged as null", mark);
    if (is_null_spelling(s.value)) return type_error("null", mark);
    if (is_bool_spelling(s.value)) return type_error("boolean", mark);
    if (kind == FieldKind::Count) {
        const UnsignedResult r = parse_unsigned(s.value);
        if (r.error) {
            return std::string("invalid value: ") + kUnsignedWhy[static_cast<int>(*r.error)] + " for `" +
                   std::string(name) + "`" + at(mark);
        }
        params_.*field.count = r.value;
        return std::nullopt;
    }
    const std::optional<double> v = parse_number(s.value);
    if (!v) return "invalid value: not a number for `" + std::string(name) + "`" + at(mark);
    if (kind == FieldKind::Real) {
        params_.*field.real = *v;
    } else {
        params_.*field.limit = *v;
    }
    return std::nullopt;
}

Status<std::string> ConfigReader::on_scalar(const yaml_event_t& e) {
    const auto& d = e.data.scalar;
    const ScalarView s{view(d.value, d.length), d.style, view(d.tag)};
    if (d.anchor) {
        Anchor& a = anchors_[std::string(view(d.anchor))];
        a = Anchor{true, false, std::string(s.value), s.style, std::string(s.tag), 0};
    }
    if (role() == Role::Root) {
        if (root_ != Root::None) return std::nullopt;  // unreachable: one root per document
        if (s.style == YAML_PLAIN_SCALAR_STYLE && s.value.empty() && s.tag.empty()) {
            root_ = Root::Empty;
            return std::nullopt;
        }
        return std::string("invalid type: ") +
               (s.style == YAML_PLAIN_SCALAR_STYLE && is_null_spelling(s.value) ? "null" : "scalar") +
               ", expected a mapping" + at(e.start_mark);
    }
    if (auto err = root_node(&s, false, e.start_mark)) return err;
    node_done_at_root();
    return std::nullopt;
}

Status<std::string> ConfigReader::on_alias(const yaml_event_t& e) {
    const std::string_view name = view(e.data.alias.anchor);
    const auto it = anchors_.find(std::string(name));
    if (it == anchors_.end()) return "unknown anchor `" + std::string(name) + "`" + at(e.start_mark);
    const Anchor& a = it->second;
    // Following the alias replays the node and every alias inside it.
    const std::uint64_t cost = saturating_add(1, a.repetitions);
    document_repetitions_ = saturating_add(document_repetitions_, cost);
    if (!frames_.empty()) frames_.back().repetitions = saturating_add(frames_.back().repetitions, cost);
    if (role() == Role::Root) return "invalid type: alias, expected a mapping" + at(e.start_mark);
    const ScalarView s{a.value, a.style, a.tag};
    if (auto err = root_node(a.scalar ? &s : nullptr, a.mapping, e.start_mark)) return err;
    node_done_at_root();
    return std::nullopt;
}

Status<std::string> ConfigReader::on_collection_start(const yaml_event_t& e, bool mapping) {
    if (frames_.size() >= kMaxDepth) {
        return "nesting deeper than " + std::to_string(kMaxDepth) + " levels" + at(e.start_mark);
    }
    const yaml_char_t* anchor = mapping ? e.data.mapping_start.anchor : e.data.sequence_start.anchor;
    if (role() == Role::Root) {
        if (!mapping) return "invalid type: sequence, expected a mapping" + at(e.start_mark);
        root_ = Root::Mapping;
        expect_key_ = true;
    } else if (auto err = root_node(nullptr, mapping, e.start_mark)) {
        return err;
    }
    frames_.push_back(Frame{mapping, anchor != nullptr, anchor ? std::string(view(anchor)) : std::string(), 0});
    return std::nullopt;
}

Status<std::string> ConfigReader::on_collection_end() {
    if (frames_.empty()) return std::nullopt;  // libyaml pairs every end with a start
    Frame frame = std::move(frames_.back());
    frames_.pop_back();
    if (frame.anchored) anchors_[frame.anchor] = Anchor{false, frame.mapping, {}, {}, {}, frame.repetitions};
    if (frames_.empty()) {
        root_ = Root::Done;
        return std::nullopt;
    }
    frames_.back().repetitions = saturating_add(frames_.back().repetitions, frame.repetitions);
    node_done_at_root();
    return std::nullopt;
}

// A byte order mark is not content (libyaml keeps it when told the encoding).
std::string_view without_bom(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    return text;
}

}  // namespace

Expected<SisoParams, ParamError> config_from_text(std::string_view text, std::vector<IgnoredKey>* ignored) {
    // Parse; absent keys keep their defaults.
    auto record = ConfigReader(without_bom(text), ignored).read();
    if (!record) return ParamError::yaml("YAML 解析失败: " + record.error());
    // Validate, then the record.
    if (auto err = validate(record.value())) return *err;
    return std::move(record).value();
}

Expected<std::vector<IgnoredKey>, std::string> ignored_config_keys(std::string_view text) {
    std::vector<IgnoredKey> ignored;
    auto record = ConfigReader(without_bom(text), &ignored).read();
    if (!record) return record.error();
    return ignored;
}

}  // namespace vorn
