// config_fuzzer.cpp — libFuzzer entry over the configuration loader's text-to-record path:
// any bytes must give a validated record or an error with a well-formed message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/config.hpp"

namespace {

// Strict UTF-8: the message becomes a Python str, which needs well-formed text.
bool well_formed_utf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t len = 1;
        unsigned char lo = 0x80, hi = 0xBF;
        if (b < 0x80) {
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            len = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3;
            if (b == 0xE0) lo = 0xA0;
            if (b == 0xED) hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (s.size() - i < len) return false;
        for (std::size_t k = 1; k < len; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xBF)) return false;
        }
        i += len;
    }
    return true;
}

bool starts_with(const std::string& s, std::string_view prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto result = vorn::config_from_text(text);
    if (result) {
        // A record handed back has passed validation.
        if (vorn::validate(result.value())) std::abort();
        return 0;
    }
    const vorn::ParamError& error = result.error();
    if (error.kind == vorn::ParamError::Kind::InvalidOrder) std::abort();
    const std::string message = error.message();
    if (!well_formed_utf8(message)) std::abort();
    if (error.kind == vorn::ParamError::Kind::Yaml && !starts_with(message, "YAML 错误: YAML 解析失败: ")) std::abort();
    return 0;
}
