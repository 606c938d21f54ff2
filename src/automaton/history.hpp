// The undo history: (state, data snapshot) entries, oldest first.
//
// Entries live in fixed-size chunks: a push never moves the entries already
// there, memory grows by one chunk at a time instead of doubling, and an
// entry costs 16 bytes however long the history gets.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "automaton/object.hpp"
#include "automaton/transitions.hpp"

namespace morvane {

class History {
public:
    struct Entry {
        Position state = 0;
        Object data;
    };

    History() = default;
    History(History&& other) noexcept;
    History& operator=(History&&) = delete;
    ~History() { clear(); }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }

    // Nothing changes if memory for a new chunk cannot be had.
    void push(Position state, Handle data) {
        if (next_ == chunk_end_) open_chunk();
        next_->state = state;
        next_->data = Object::borrow(data);
        ++next_;
        ++size_;
    }
    // Removes the newest entry and hands it over; the history must not be empty.
    Entry pop() noexcept;
    const Entry& newest() const noexcept { return at(size_ - 1); }

    template <class Visit>
    void for_each(Visit&& visit) const {
        for (std::size_t index = 0; index < size_; ++index) visit(at(index));
    }

    // Releases the entries oldest first, then the storage.
    void clear() noexcept;

private:
    static constexpr std::size_t kChunkEntries = 4096;

    // Points next_ at slot size_, allocating its chunk when needed.
    void open_chunk();

    const Entry& at(std::size_t index) const noexcept {
        return chunks_[index / kChunkEntries][index % kChunkEntries];
    }
    Entry& at(std::size_t index) noexcept { return chunks_[index / kChunkEntries][index % kChunkEntries]; }

    std::vector<std::unique_ptr<Entry[]>> chunks_;
    std::size_t size_ = 0;
    Entry* next_ = nullptr;       // slot of the next push
    Entry* chunk_end_ = nullptr;  // end of next_'s chunk
};

}  // namespace morvane
