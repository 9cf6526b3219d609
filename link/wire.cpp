#include "link/wire.h"

#include <algorithm>

namespace kivra {

namespace {
std::uint32_t Assemble(const std::uint8_t* b) {
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
           (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}
}  // namespace

std::size_t LinkDecoder::Feed(std::span<const std::uint8_t> bytes, std::vector<std::uint32_t>& out) {
    const std::size_t before = out.size();
    std::size_t i = 0;
    if (pending_ > 0) {
        const std::size_t take = std::min(kLinkMessageSize - pending_, bytes.size());
        std::copy_n(bytes.begin(), take, partial_.begin() + static_cast<std::ptrdiff_t>(pending_));
        pending_ += take;
        i = take;
        if (pending_ < kLinkMessageSize) return 0;
        out.push_back(Assemble(partial_.data()));
        pending_ = 0;
    }
    for (; i + kLinkMessageSize <= bytes.size(); i += kLinkMessageSize) out.push_back(Assemble(bytes.data() + i));
    pending_ = bytes.size() - i;
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(i), pending_, partial_.begin());
    return out.size() - before;
}

std::array<std::uint32_t, kHelloMessages> HelloMessages(std::span<const std::uint8_t> digest) {
    std::array<std::uint32_t, kHelloMessages> hello{};
    for (std::size_t i = 0; i < hello.size(); ++i) {
        hello[i] = kHelloStatus;
        for (std::size_t b = 0; b < 3; ++b) {
            const std::size_t at = 3 * i + b;
            if (at < digest.size()) hello[i] |= static_cast<std::uint32_t>(digest[at]) << (8 * (b + 1));
        }
    }
    return hello;
}

bool MessageRate::Take(Clock::time_point now) {
    if (last_ != Clock::time_point{}) {
        const double seconds = std::chrono::duration<double>(now - last_).count();
        tokens_ = std::min(burst_, tokens_ + std::max(0.0, seconds) * perSecond_);
    }
    last_ = now;
    if (tokens_ < 1) return false;
    tokens_ -= 1;
    return true;
}

void SoundingNotes::Track(std::uint32_t packed) {
    const ShortMessage m = UnpackShortMessage(packed);
    if ((m.Kind() != kNoteOnStatus && m.Kind() != kNoteOffStatus) || m.data1 > 127) return;
    const bool starts = !IsNoteRelease(packed);
    bool& flag = on_[static_cast<std::size_t>(m.Channel())][m.data1];
    if (flag != starts) count_ += starts ? 1 : -1;
    flag = starts;
}

std::vector<std::uint32_t> SoundingNotes::TakeReleases() {
    std::vector<std::uint32_t> offs;
    offs.reserve(static_cast<std::size_t>(count_));
    for (int channel = 0; channel < 16; ++channel)
        for (int note = 0; note < 128; ++note)
            if (on_[static_cast<std::size_t>(channel)][static_cast<std::size_t>(note)])
                offs.push_back(PackShortMessage(kNoteOnStatus + channel, note));
    on_ = {};
    count_ = 0;
    return offs;
}

}  // namespace kivra
