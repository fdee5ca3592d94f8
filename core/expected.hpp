// expected.hpp — the core's value-or-error result: core operations never throw for
// expected failures, they return one of these.
#pragma once

#include <optional>
#include <utility>
#include <variant>

namespace vorn {

// Either a value of T or an error of E (T and E must differ).
template <class T, class E>
class Expected {
public:
    Expected(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Expected(E error) : v_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    const E& error() const { return std::get<1>(v_); }

private:
    std::variant<T, E> v_;
};

// The result of an operation that yields nothing on success: empty means success.
template <class E>
using Status = std::optional<E>;

}  // namespace vorn
