// access.hpp — the per-object access state: shared for read-only calls, exclusive for
// mutating ones, refused with RuntimeError on conflict (re-entry, or threads without a GIL).
#pragma once

#include <atomic>
#include <cstdint>

#include "python/binding/py.hpp"

namespace vorn::py {

class AccessState {
public:
    // 0: free; n > 0: n shared holders; -1: one exclusive holder.
    bool try_shared() {
        std::intptr_t n = n_.load(std::memory_order_relaxed);
        do {
            if (n < 0) return false;
        } while (!n_.compare_exchange_weak(n, n + 1, std::memory_order_acquire, std::memory_order_relaxed));
        return true;
    }
    void release_shared() { n_.fetch_sub(1, std::memory_order_release); }
    bool try_exclusive() {
        std::intptr_t expected = 0;
        return n_.compare_exchange_strong(expected, -1, std::memory_order_acquire, std::memory_order_relaxed);
    }
    void release_exclusive() { n_.store(0, std::memory_order_release); }

private:
    std::atomic<std::intptr_t> n_{0};
};

// Holds shared or exclusive access for its lifetime; false (with RuntimeError set) when
// refused.
template <bool Exclusive>
class ScopedAccess {
public:
    explicit ScopedAccess(AccessState& s) : s_((Exclusive ? s.try_exclusive() : s.try_shared()) ? &s : nullptr) {
        if (!s_) PyErr_SetString(PyExc_RuntimeError, Exclusive ? "Already borrowed" : "Already mutably borrowed");
    }
    ScopedAccess(const ScopedAccess&) = delete;
    ScopedAccess& operator=(const ScopedAccess&) = delete;
    ~ScopedAccess() {
        if (!s_) return;
        if constexpr (Exclusive) {
            s_->release_exclusive();
        } else {
            s_->release_shared();
        }
    }
    explicit operator bool() const { return s_ != nullptr; }

private:
    AccessState* s_;
};

using SharedAccess = ScopedAccess<false>;
using ExclusiveAccess = ScopedAccess<true>;

}  // namespace vorn::py
