// The step storage: a step's notes and a track's chunks of steps.
#include "musicmaker/song.h"

namespace kivra {

void NoteList::resize(std::size_t count) {
    count = std::min(count, kMaxNotes);
    if (count == size_) return;
    const std::size_t kept = std::min<std::size_t>(count, size_);
    if (Capacity(count) == Capacity(size_)) {
        std::memset(data() + kept, 0, count - kept);
        std::memset(Velocities() + kept, kDefaultVelocity, count - kept);
        size_ = static_cast<std::uint8_t>(count);
        return;
    }
    // The chord moves between inline and a block, or to a block of another size.
    const bool spills = count > kInlineNotes;
    const std::size_t capacity = Capacity(count);
    std::array<std::uint8_t, 2 * kInlineNotes> inlineBytes{};
    std::unique_ptr<std::uint8_t[]> block;
    if (spills) block = std::make_unique<std::uint8_t[]>(2 * capacity);  // zeroed
    std::uint8_t* to = spills ? block.get() : inlineBytes.data();
    std::memcpy(to, data(), kept);
    std::memcpy(to + capacity, Velocities(), kept);
    std::memset(to + capacity + kept, kDefaultVelocity, count - kept);
    Free();
    if (spills) {
        std::uint8_t* owned = block.release();
        std::memcpy(bytes_.data(), &owned, sizeof owned);
    } else {
        bytes_ = inlineBytes;
    }
    size_ = static_cast<std::uint8_t>(count);
}

void NoteList::assign(const std::uint8_t* first, const std::uint8_t* last) {
    const auto count = std::min(static_cast<std::size_t>(last - first), kMaxNotes);
    Free();
    resize(count);
    if (count > 0) std::memcpy(data(), first, count);
}

SongSteps& SongSteps::operator=(const SongSteps& other) {
    if (this == &other) return *this;
    resize(other.size_);
    for (std::size_t c = 0; c < chunks_.size(); ++c) {
        const std::size_t n = std::min(kChunkSteps, size_ - (c << kChunkShift));
        std::copy_n(other.chunks_[c].get(), n, chunks_[c].get());
    }
    return *this;
}

void SongSteps::Grow(std::size_t count) {
    const std::size_t chunks = (count + kChunkSteps - 1) >> kChunkShift;
    chunks_.reserve(chunks);  // geometric: at most a few pointers are moved per chunk added
    while (chunks_.size() < chunks) chunks_.push_back(std::make_unique<SongStep[]>(kChunkSteps));
    size_ = count;
}

void SongSteps::resize(std::size_t count, const SongStep& step) {
    if (count < size_) {
        // Steps past the end inside the last kept chunk are emptied, as Grow expects them.
        const std::size_t chunks = (count + kChunkSteps - 1) >> kChunkShift;
        for (std::size_t i = count; i < std::min(size_, chunks << kChunkShift); ++i) (*this)[i] = SongStep{};
        chunks_.resize(chunks);
        size_ = count;
    } else if (count > size_) {
        const std::size_t from = size_;
        Grow(count);
        if (!BlankStep(step))
            for (std::size_t i = from; i < count; ++i) (*this)[i] = step;
    }
}

void SongSteps::push_back(SongStep step) {
    Grow(size_ + 1);
    (*this)[size_ - 1] = std::move(step);
}

void SongSteps::Splice(std::size_t first, std::size_t count, std::span<const SongStep> steps) {
    first = std::min(first, size_);
    count = std::min(count, size_ - first);
    const std::size_t added = steps.size();
    if (added > count) {
        const std::size_t by = added - count, end = size_;
        Grow(size_ + by);
        for (std::size_t i = end; i-- > first + count;) (*this)[i + by] = std::move((*this)[i]);
    } else if (added < count) {
        const std::size_t by = count - added;
        for (std::size_t i = first + count; i < size_; ++i) (*this)[i - by] = std::move((*this)[i]);
        resize(size_ - by);
    }
    for (std::size_t k = 0; k < added; ++k) (*this)[first + k] = steps[k];
}

std::size_t SongSteps::Bytes() const noexcept {
    std::size_t bytes = chunks_.capacity() * sizeof(chunks_[0]) + chunks_.size() * kChunkSteps * sizeof(SongStep);
    for (const SongStep& step : *this) bytes += step.Notes.HeapBytes();
    return bytes;
}

}  // namespace kivra
