// config_fuzzer.cpp — libFuzzer entry over the configuration loader's text-to-record path:
// any bytes must give a validated record or an error with a well-formed message, and the
// key scan of `vorn check-config` must read every text the loader accepts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/config.hpp"

namespace {

bool starts_with(const std::string& s, std::string_view prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto result = vorn::config_from_text(text);
    if (result) {
        // A record handed back has passed validation.
        if (vorn::validate(result.value())) std::abort();
        const auto ignored = vorn::ignored_config_keys(text);
        if (!ignored) std::abort();
        for (const vorn::IgnoredKey& key : ignored.value()) {
            if (key.line == 0 || key.column == 0 || (key.collection && !key.name.empty())) std::abort();
        }
        return 0;
    }
    const vorn::ParamError& error = result.error();
    if (error.kind == vorn::ParamError::Kind::InvalidOrder) std::abort();
    const std::string message = error.message();
    if (!vorn::is_utf8(message)) std::abort();
    if (error.kind == vorn::ParamError::Kind::Yaml && !starts_with(message, "YAML 错误: YAML 解析失败: ")) std::abort();
    return 0;
}
