// The per-instance borrow flag.
//
// Every entry holds a borrow while it works on the record. Python code that
// runs meanwhile (a finaliser, a __str__) and calls back into the same
// instance meets the flag and fails at once; nothing ever waits.
//
// The stored value is the borrow count shifted by one, so that the zeroed
// memory of an instance whose record was never built (its __new__ replaced,
// or object.__new__(Morvane)) reads as a state that no borrow can take:
//   0      not built: every borrow is refused
//   1      built, not borrowed
//   1 + n  n shared borrows
//   -1     one exclusive borrow
// The borrow checks cost what they would without that state; only the error
// path tells a refused borrow from an unbuilt instance.
#pragma once

#include <atomic>
#include <cstdint>

namespace morvane::binding {

class BorrowFlag {
public:
    // The constructor runs only for a built record.
    BorrowFlag() noexcept = default;

    bool try_shared() noexcept {
        std::int64_t seen = value_.load(std::memory_order_relaxed);
        do {
            if (seen <= kUnbuilt) return false;
        } while (!value_.compare_exchange_weak(seen, seen + 1, std::memory_order_acquire, std::memory_order_relaxed));
        return true;
    }
    void release_shared() noexcept { value_.fetch_sub(1, std::memory_order_release); }

    bool try_exclusive() noexcept {
        std::int64_t expected = kFree;
        return value_.compare_exchange_strong(expected, kExclusive, std::memory_order_acquire,
                                              std::memory_order_relaxed);
    }
    void release_exclusive() noexcept { value_.store(kFree, std::memory_order_release); }

    // A built instance never goes back to 0, so a 0 seen here is final.
    bool built() const noexcept { return value_.load(std::memory_order_relaxed) != kUnbuilt; }

private:
    static constexpr std::int64_t kExclusive = -1;
    static constexpr std::int64_t kUnbuilt = 0;
    static constexpr std::int64_t kFree = 1;

    std::atomic<std::int64_t> value_{kFree};
};

enum class Access { shared, exclusive };

// Raises the error for a refused borrow: TypeError on an instance whose
// record was never built, else the borrow error of the given kind.
void raise_borrow_error(Access access, const BorrowFlag& flag) noexcept;

// Holds a borrow for one scope. Check it before use: when the borrow was
// refused, the Python error is already set.
template <Access A>
class Borrow {
public:
    explicit Borrow(BorrowFlag& flag) noexcept
        : flag_(flag), held_(A == Access::shared ? flag.try_shared() : flag.try_exclusive()) {
        if (!held_) raise_borrow_error(A, flag);
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
