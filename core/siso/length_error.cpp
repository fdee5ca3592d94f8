// length_error.cpp — display text of a length refusal.
#include "core/siso/length_error.hpp"

namespace vorn {

std::string LengthError::message() const {
    return name + " 长度至少为 " + std::to_string(least) + "，实际为 " + std::to_string(actual);
}

}  // namespace vorn
