// config.hpp — the YAML configuration file of a SISO controller and its loader.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/expected.hpp"
#include "core/siso/params.hpp"

namespace vorn {

// The file read when no path is given, relative to the current working directory.
inline constexpr const char* kDefaultConfigPath = "config.yaml";

// read false: the default record, touching no file. Otherwise reads `path` (or
// kDefaultConfigPath) whole as UTF-8, parses it, fills defaults and validates. Failures
// to read carry "无法读取 YAML 文件: ", failures to parse "YAML 解析失败: " (kind Yaml).
Expected<SisoParams, ParamError> load_config(bool read, const std::optional<std::string>& path);

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_utf8(std::string_view s);

// A key of the root mapping that is no field of the record: the loader skips it with its value.
struct IgnoredKey {
    std::string name;         // the key's text; empty when the key is a collection
    bool collection = false;  // the key is a sequence or a mapping (or an alias of one)
    std::size_t line = 0;     // where the key starts, counted from 1
    std::size_t column = 0;
};

// The parse, default and validation steps on text already in memory; `ignored`, when given,
// receives the keys that the parse reads past, in document order.
Expected<SisoParams, ParamError> config_from_text(std::string_view text, std::vector<IgnoredKey>* ignored = nullptr);

// A configuration file as one read of it yields: the record and the keys the loader read past.
struct ConfigFile {
    SisoParams params;
    std::vector<IgnoredKey> ignored;
};

// Reads `path` once, exactly as load_config(true, path) does and with its failures, and keeps
// the ignored keys that the same parse met.
Expected<ConfigFile, ParamError> load_config_file(const std::string& path);

// The keys that config_from_text reads past in `text`, in document order, found by the same
// reader; or the reader's message when the text does not parse. Nothing is validated.
Expected<std::vector<IgnoredKey>, std::string> ignored_config_keys(std::string_view text);

}  // namespace vorn
