// config.hpp — the YAML configuration file of a SISO controller and its loader.
#pragma once

#include <optional>
#include <string>
#include <string_view>

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

// The parse, default and validation steps on text already in memory.
Expected<SisoParams, ParamError> config_from_text(std::string_view text);

}  // namespace vorn
