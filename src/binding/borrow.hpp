// The per-instance borrow flag: 0 free, n > 0 shared borrows, -1 exclusive.
//
// Every entry holds a borrow while it works on the record. Python code that
// runs meanwhile (a finaliser, a __str__) and calls back into the same
// instance meets the flag and fails at once; nothing ever waits.
#pragma once

#include <atomic>
#include <cstdint>

namespace morvane::binding {

class BorrowFlag {
public:
    bool try_shared() noexcept {
        std::int64_t seen = value_.load(std::memory_order_relaxed);
        do {
            if (seen == -1) return false;
        } while (!value_.compare_exchange_weak(seen, seen + 1, std::memory_order_acquire, std::memory_order_relaxed));
        return true;
    }
    void release_shared() noexcept { value_.fetch_sub(1, std::memory_order_release); }

    bool try_exclusive() noexcept {
        std::int64_t expected = 0;
        return value_.compare_exchange_strong(expected, -1, std::memory_order_acquire, std::memory_order_relaxed);
    }
    void release_exclusive() noexcept { value_.store(0, std::memory_order_release); }

private:
    std::atomic<std::int64_t> value_{0};
};

enum class Access { shared, exclusive };

// Raises the borrow error for a refused borrow of the given kind.
void raise_borrow_error(Access access) noexcept;

// Holds a borrow for one scope. Check it before use: when the borrow was
// refused, the Python error is already set.
template <Access A>
class Borrow {
public:
    explicit Borrow(BorrowFlag& flag) noexcept
        : flag_(flag), held_(A == Access::shared ? flag.try_shared() : flag.try_exclusive()) {
        if (!held_) raise_borrow_error(A);
    }
    ~Borrow() {
        if (!held_) return;
        if constexpr (A == Access::shared)
            flag_.release_shared();
        else
            flag_.release_exclusive();
    }
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;

    explicit operator bool() const noexcept { return held_; }

private:
    BorrowFlag& flag_;
    bool held_;
};

}  // namespace morvane::binding
