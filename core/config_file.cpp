// config_file.cpp — reading the configuration file: regular files only (judged before the
// open, so a FIFO or a device is never opened, and again on the open descriptor), at most
// kMaxConfigBytes, opened read-only without blocking, read whole, checked to be UTF-8,
// closed on every path.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "core/config.hpp"

namespace vorn {

namespace {

// Why the file could not be had, in the system's words.
struct ReadFailure {
    std::string description;
};

ReadFailure system_failure(int err) { return {std::error_code(err, std::generic_category()).message()}; }

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

// A configuration file holds a few hundred bytes; anything above this is refused unread.
constexpr off_t kMaxConfigBytes = 1 << 20;

ReadFailure too_large() { return {"file is larger than 1 MiB"}; }

// Refuses what is not a regular file of acceptable size, from its description.
std::optional<ReadFailure> refuse(const struct stat& info) {
    if (S_ISDIR(info.st_mode)) return system_failure(EISDIR);
    if (!S_ISREG(info.st_mode)) return ReadFailure{"not a regular file"};
    if (info.st_size > kMaxConfigBytes) return too_large();
    return std::nullopt;
}

// The whole content of a regular file, or the description of why it cannot be had. The
// path is judged before it is opened; the open descriptor is judged again, since the path
// may have changed in between. O_NONBLOCK keeps the open from blocking should a FIFO have
// taken the file's place. A file that reports a small size but yields more (as some files
// under /proc do) is refused once it passes the limit.
Expected<std::string, ReadFailure> read_regular_file(const std::string& path) {
    if (path.find('\0') != std::string::npos) return ReadFailure{"file name contains a NUL byte"};
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0) return system_failure(errno);
    if (auto failure = refuse(before)) return *failure;

    int raw = -1;
    do {
        raw = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (raw < 0 && errno == EINTR);
    if (raw < 0) return system_failure(errno);
    const FileDescriptor fd(raw);

    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return system_failure(errno);
    if (auto failure = refuse(info)) return *failure;

    std::string text;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return system_failure(errno);
        }
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > static_cast<std::size_t>(kMaxConfigBytes)) return too_large();
    }
    return text;
}


ParamError read_failure(const std::string& description) {
    return ParamError::yaml("无法读取 YAML 文件: " + description);
}

}  // namespace

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_utf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        std::size_t len = 0;
        unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
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
        const auto second = static_cast<unsigned char>(s[i + 1]);
        if (second < lo || second > hi) return false;
        for (std::size_t k = 2; k < len; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if (c < 0x80 || c > 0xBF) return false;
        }
        i += len;
    }
    return true;
}

namespace {

// The file at `path`, read whole and checked to be UTF-8, through parse, defaults and validation.
Expected<SisoParams, ParamError> parse_file(const std::string& path, std::vector<IgnoredKey>* ignored) {
    auto text = read_regular_file(path);
    if (!text) return read_failure(text.error().description);
    if (!is_utf8(text.value())) return read_failure("stream did not contain valid UTF-8");
    return config_from_text(text.value(), ignored);
}

}  // namespace

Expected<SisoParams, ParamError> load_config(bool read, const std::optional<std::string>& path) {
    // Not reading: the default record, unvalidated.
    if (!read) return SisoParams{};
    return parse_file(path ? *path : std::string(kDefaultConfigPath), nullptr);
}

Expected<ConfigFile, ParamError> load_config_file(const std::string& path) {
    ConfigFile file;
    auto params = parse_file(path, &file.ignored);
    if (!params) return params.error();
    file.params = std::move(params).value();
    return file;
}

}  // namespace vorn
