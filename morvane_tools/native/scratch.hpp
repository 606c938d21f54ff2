// Vectors whose memory each thread keeps from one call to the next. The
// tables of a large read take megabytes, and every fresh page costs a fault
// (microseconds apiece in a virtual machine), so reused memory, already
// mapped, makes a read of a few thousand states about a tenth quicker. What
// is kept stays small: a vector grown past kKeptBytes goes back when done.
#pragma once

#include <cstddef>
#include <vector>

namespace morvane_tools {

inline constexpr std::size_t kKeptBytes = std::size_t{16} << 20;

template <class Item>
class ReusedVector {
public:
    ReusedVector() { items_.swap(kept()); }
    ReusedVector(const ReusedVector&) = delete;
    ReusedVector& operator=(const ReusedVector&) = delete;
    ~ReusedVector() {
        if (items_.capacity() * sizeof(Item) <= kKeptBytes) items_.swap(kept());
    }

    // `count` copies of `value`, in the memory kept where it suffices.
    void assign(std::size_t count, const Item& value) { items_.assign(count, value); }
    std::size_t size() const noexcept { return items_.size(); }
    Item& operator[](std::size_t at) noexcept { return items_[at]; }
    const Item& operator[](std::size_t at) const noexcept { return items_[at]; }

private:
    static std::vector<Item>& kept() {
        thread_local std::vector<Item> vector;
        return vector;
    }
    std::vector<Item> items_;
};

}  // namespace morvane_tools
