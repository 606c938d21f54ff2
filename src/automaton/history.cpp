#include "automaton/history.hpp"

#include <cstdlib>  // defines __GLIBC__ on glibc
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace morvane {

namespace {

// The allocator keeps freed chunks for reuse; after a long history is let go,
// ask it to return the pages to the system instead.
void give_back_memory(std::size_t chunks) noexcept {
#if defined(__GLIBC__)
    constexpr std::size_t kChunksWorthTrimming = 64;  // about 4 MiB of entries
    if (chunks >= kChunksWorthTrimming) malloc_trim(0);
#else
    (void)chunks;
#endif
}

}  // namespace

History::History(History&& other) noexcept
    : chunks_(std::move(other.chunks_)),
      size_(std::exchange(other.size_, 0)),
      current_(std::exchange(other.current_, 0)),
      next_(std::exchange(other.next_, nullptr)),
      chunk_begin_(std::exchange(other.chunk_begin_, nullptr)),
      chunk_end_(std::exchange(other.chunk_end_, nullptr)) {}

void History::open_next_chunk() {
    const std::size_t chunk = next_ ? current_ + 1 : 0;
    if (chunk == chunks_.size()) chunks_.push_back(Chunk{std::make_unique<Entry[]>(capacity(chunk))});
    current_ = chunk;
    next_ = chunk_begin_ = chunks_[chunk].entries.get();
    chunk_end_ = chunk_begin_ + capacity(chunk);
}

History::Entry History::pop() noexcept {
    if (next_ == chunk_begin_) {  // step back into the previous, full chunk
        --current_;
        chunk_begin_ = chunks_[current_].entries.get();
        next_ = chunk_end_ = chunk_begin_ + capacity(current_);
    }
    --next_;
    --size_;
    Entry taken{next_->state, std::move(next_->data)};
    // Keep at most one spare chunk, so undo/step at a chunk edge does not
    // allocate and free on every call.
    if (chunks_.size() > current_ + 2) chunks_.pop_back();
    return taken;
}

void History::clear() noexcept {
    if (chunks_.empty()) return;
    // Detach first: a finaliser run by a release sees an empty history.
    History old(std::move(*this));
    auto release = [](Entry& entry) { entry.data.reset(); };
    visit_all(old, release);
    const std::size_t chunks = old.chunks_.size();
    old.size_ = 0;
    old.chunks_.clear();
    give_back_memory(chunks);
}

}  // namespace morvane
