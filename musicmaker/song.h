#pragma once
// The song model: one song for the whole run, a grid of steps several tracks wide.
// Read anywhere on the UI thread; written only through the operations of songops.h, which record
// each change in the history and tell the views what changed. Playback alone moves g_lCurStep and
// g_lLastStep itself, as its transport.
//
// Storage: a step is 11 bytes with its notes inline up to a chord of kInlineNotes; only a bigger
// chord takes a block of its own. A track's steps live in fixed chunks, so a song growing by one
// step adds at most one chunk per track and never moves the steps already there. A note is two
// bytes, its number and its velocity, so four fit inline in the same 8 bytes.

#include <algorithm>
#include <array>
#include <bit>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <span>
#include <type_traits>
#include <vector>

namespace kivra {

enum StepKind : std::uint8_t { StepEmpty = 0, StepNotes = 1, StepBreak = 2 };

// A step's notes, at most 255, each a note number and its velocity: inline up to kInlineNotes,
// beyond that in a block of their own whose capacity follows from the count (the next power of
// two). The numbers lie together and the velocities after them, so the numbers read as one range.
class NoteList {
public:
    static constexpr std::size_t kInlineNotes = 4;
    static constexpr std::size_t kMaxNotes = 255;
    static constexpr std::uint8_t kDefaultVelocity = 100;  // of a note given without one

    NoteList() noexcept = default;
    NoteList(std::initializer_list<std::uint8_t> notes) { assign(notes.begin(), notes.end()); }
    NoteList(const std::vector<std::uint8_t>& notes) { assign(notes.data(), notes.data() + notes.size()); }
    NoteList(const NoteList& other) { *this = other; }
    NoteList(NoteList&& other) noexcept : bytes_(other.bytes_), size_(other.size_) { other.size_ = 0; }
    NoteList& operator=(const NoteList& other) {
        if (this != &other) {
            assign(other.begin(), other.end());
            std::copy(other.Velocities(), other.Velocities() + size_, Velocities());
        }
        return *this;
    }
    NoteList& operator=(NoteList&& other) noexcept {
        if (this != &other) {
            Free();
            bytes_ = other.bytes_;
            size_ = other.size_;
            other.size_ = 0;
        }
        return *this;
    }
    ~NoteList() { Free(); }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    std::uint8_t* data() noexcept { return Spilled() ? Heap() : bytes_.data(); }
    const std::uint8_t* data() const noexcept { return Spilled() ? Heap() : bytes_.data(); }
    std::uint8_t& operator[](std::size_t i) noexcept { return data()[i]; }
    std::uint8_t operator[](std::size_t i) const noexcept { return data()[i]; }
    std::uint8_t* begin() noexcept { return data(); }
    std::uint8_t* end() noexcept { return data() + size_; }
    const std::uint8_t* begin() const noexcept { return data(); }
    const std::uint8_t* end() const noexcept { return data() + size_; }
    // The velocity of each note, in the notes' order.
    std::uint8_t* Velocities() noexcept { return data() + Capacity(size_); }
    const std::uint8_t* Velocities() const noexcept { return data() + Capacity(size_); }

    // Beyond kMaxNotes the list is cut at kMaxNotes; new notes are 0 at kDefaultVelocity.
    void resize(std::size_t count);
    void push_back(std::uint8_t note, std::uint8_t velocity = kDefaultVelocity) {
        if (size_ == kMaxNotes) return;
        resize(size_ + 1u);
        data()[size_ - 1u] = note;
        Velocities()[size_ - 1u] = velocity;
    }
    // The notes become [first, last), each at kDefaultVelocity.
    void assign(const std::uint8_t* first, const std::uint8_t* last);
    void clear() noexcept { Free(); }
    // Bytes held outside the step (0 for an inline chord).
    std::size_t HeapBytes() const noexcept { return Spilled() ? 2 * Capacity(size_) : 0; }

    friend bool operator==(const NoteList& a, const NoteList& b) noexcept {
        return std::equal(a.begin(), a.end(), b.begin(), b.end()) &&
               std::equal(a.Velocities(), a.Velocities() + a.size_, b.Velocities());
    }

private:
    bool Spilled() const noexcept { return size_ > kInlineNotes; }
    // Where the velocities start: after kInlineNotes inline, after the block's capacity spilled.
    static std::size_t Capacity(std::size_t count) noexcept {
        return count > kInlineNotes ? std::bit_ceil(count) : kInlineNotes;
    }
    // The block's address is kept in the inline bytes, copied in and out so the step stays 1-aligned.
    std::uint8_t* Heap() const noexcept {
        std::uint8_t* p;
        std::memcpy(&p, bytes_.data(), sizeof p);
        return p;
    }
    void Free() noexcept {
        if (Spilled()) std::unique_ptr<std::uint8_t[]>{Heap()};  // the block this list owns
        size_ = 0;
    }

    static_assert(sizeof(std::uint8_t*) <= 2 * kInlineNotes);
    std::array<std::uint8_t, 2 * kInlineNotes> bytes_{};
    std::uint8_t size_ = 0;
};

struct SongStep {
    std::uint8_t StepType = StepEmpty;
    std::uint8_t NoteCount = 0;
    NoteList Notes;  // note numbers in recorded order; may keep stale notes under a break
};

// An empty step with nothing kept under it, as new steps are.
inline bool BlankStep(const SongStep& step) {
    return step.StepType == StepEmpty && step.NoteCount == 0 && step.Notes.empty();
}

// A track's steps in chunks of kChunkSteps. Steps past size() inside the last chunk are always
// empty, so growing is allocating chunks; moves are noexcept, so a list of tracks moves its tracks
// instead of copying them.
class SongSteps {
public:
    static constexpr std::size_t kChunkShift = 10;
    static constexpr std::size_t kChunkSteps = std::size_t{1} << kChunkShift;

    template <bool Const>
    class Iterator {
    public:
        using Owner = std::conditional_t<Const, const SongSteps, SongSteps>;
        using iterator_category = std::random_access_iterator_tag;
        using iterator_concept = std::random_access_iterator_tag;
        using value_type = SongStep;
        using difference_type = std::ptrdiff_t;
        using reference = std::conditional_t<Const, const SongStep&, SongStep&>;
        using pointer = std::conditional_t<Const, const SongStep*, SongStep*>;

        Iterator() = default;
        Iterator(Owner* owner, std::size_t at) : owner_(owner), at_(at) {}
        operator Iterator<true>() const { return {owner_, at_}; }
        reference operator*() const { return (*owner_)[at_]; }
        pointer operator->() const { return &(*owner_)[at_]; }
        reference operator[](difference_type n) const { return (*owner_)[at_ + static_cast<std::size_t>(n)]; }
        Iterator& operator++() { return ++at_, *this; }
        Iterator operator++(int) { return {owner_, at_++}; }
        Iterator& operator--() { return --at_, *this; }
        Iterator operator--(int) { return {owner_, at_--}; }
        Iterator& operator+=(difference_type n) { return at_ += static_cast<std::size_t>(n), *this; }
        Iterator& operator-=(difference_type n) { return at_ -= static_cast<std::size_t>(n), *this; }
        friend Iterator operator+(Iterator i, difference_type n) { return i += n; }
        friend Iterator operator+(difference_type n, Iterator i) { return i += n; }
        friend Iterator operator-(Iterator i, difference_type n) { return i -= n; }
        friend difference_type operator-(const Iterator& a, const Iterator& b) {
            return static_cast<difference_type>(a.at_) - static_cast<difference_type>(b.at_);
        }
        friend bool operator==(const Iterator& a, const Iterator& b) { return a.at_ == b.at_; }
        friend auto operator<=>(const Iterator& a, const Iterator& b) { return a.at_ <=> b.at_; }

    private:
        Owner* owner_ = nullptr;
        std::size_t at_ = 0;
    };
    using iterator = Iterator<false>;
    using const_iterator = Iterator<true>;
    using value_type = SongStep;

    SongSteps() noexcept = default;
    explicit SongSteps(std::size_t count, const SongStep& step = {}) { resize(count, step); }
    SongSteps(std::initializer_list<SongStep> steps) { Splice(0, 0, steps); }
    SongSteps(const std::vector<SongStep>& steps) { Splice(0, 0, steps); }
    SongSteps(const SongSteps& other) { *this = other; }
    SongSteps(SongSteps&&) noexcept = default;
    SongSteps& operator=(const SongSteps& other);
    SongSteps& operator=(SongSteps&&) noexcept = default;

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    SongStep& operator[](std::size_t i) noexcept { return chunks_[i >> kChunkShift][i & (kChunkSteps - 1)]; }
    const SongStep& operator[](std::size_t i) const noexcept { return chunks_[i >> kChunkShift][i & (kChunkSteps - 1)]; }
    iterator begin() noexcept { return {this, 0}; }
    iterator end() noexcept { return {this, size_}; }
    const_iterator begin() const noexcept { return {this, 0}; }
    const_iterator end() const noexcept { return {this, size_}; }

    // Steps added are copies of `step`; steps dropped free their chunks.
    void resize(std::size_t count, const SongStep& step = {});
    void push_back(SongStep step);
    void clear() noexcept { resize(0); }
    void shrink_to_fit() { chunks_.shrink_to_fit(); }
    // Steps [first, first + count) become `steps`; the later steps move by the difference.
    void Splice(std::size_t first, std::size_t count, std::span<const SongStep> steps);
    // Bytes held: the chunks, their list and the spilled chords.
    std::size_t Bytes() const noexcept;

private:
    void Grow(std::size_t count);  // size_ becomes count, new steps empty

    std::vector<std::unique_ptr<SongStep[]>> chunks_;
    std::size_t size_ = 0;
};

struct SongTrack {
    std::uint8_t Channel = 0;
    SongSteps Steps;  // exactly g_lNumSteps entries whenever g_lNumSteps > 0
};

inline int g_lNumTracks = 0;
inline std::array<std::uint8_t, 16> g_bytChannelPatch{};  // instrument per MIDI channel
inline std::vector<SongTrack> g_Tracks;
inline int g_lTempo = 120;         // beats per minute, 30..240
inline int g_lNotesPerBeat = 4;    // steps per beat, 1..255
inline int g_lCurStep = 0;
inline int g_lNumSteps = 0;
inline int g_lCurTrack = 0;
inline std::vector<int> g_lLastStep;  // per track: step whose notes were started last

}  // namespace kivra
