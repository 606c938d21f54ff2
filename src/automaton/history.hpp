// The undo history: (state, data snapshot) entries, oldest first.
//
// Entries live in chunks that never move: a push never copies the entries
// already there, and an entry costs 16 bytes however long the history gets.
// Chunks start small and double up to a fixed size, so an automaton with a
// short history pays for a short history.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "automaton/object.hpp"
#include "automaton/transition_table.hpp"

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
        if (next_ == chunk_end_) open_next_chunk();
        next_->state = state;
        next_->data = Object::borrow(data);
        ++next_;
        ++size_;
    }
    // Removes the newest entry and hands it over; the history must not be empty.
    Entry pop() noexcept;
    // The newest entry; the history must not be empty.
    const Entry& newest() const noexcept {
        return next_ != chunk_begin_ ? next_[-1] : chunks_[current_ - 1].entries[capacity(current_ - 1) - 1];
    }

    // visit(entry) for every entry, oldest first.
    template <class Visit>
    void for_each(Visit&& visit) const {
        visit_all(*this, visit);
    }

    // Releases the entries oldest first, then the storage.
    void clear() noexcept;

private:
    static constexpr std::size_t kFirstChunk = 8;
    static constexpr std::size_t kLargestChunk = 4096;
    static std::size_t capacity(std::size_t chunk) noexcept {
        return chunk >= 9 ? kLargestChunk : kFirstChunk << chunk;
    }

    struct Chunk {
        std::unique_ptr<Entry[]> entries;
    };

    template <class Self, class Visit>
    static void visit_all(Self& self, Visit& visit) {
        std::size_t remaining = self.size_;
        for (std::size_t chunk = 0; remaining > 0; ++chunk) {
            const std::size_t count = std::min(remaining, capacity(chunk));
            for (std::size_t index = 0; index < count; ++index) visit(self.chunks_[chunk].entries[index]);
            remaining -= count;
        }
    }

    // Moves next_ to the start of the chunk after the current one.
    void open_next_chunk();

    std::vector<Chunk> chunks_;
    std::size_t size_ = 0;
    std::size_t current_ = 0;       // the chunk next_ points into (when next_ is set)
    Entry* next_ = nullptr;         // slot of the next push
    Entry* chunk_begin_ = nullptr;  // bounds of the current chunk
    Entry* chunk_end_ = nullptr;
};

}  // namespace morvane
