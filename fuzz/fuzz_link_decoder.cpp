// The link's stream decoder: whatever the bytes and however they are split into arrivals, the
// messages that come out are the input taken 4 bytes at a time, and the rest is kept. What the
// check for channel voice messages lets through is a message any MIDI device takes.
#include "link/wire.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte chooses how the rest is cut into arrivals.
    unsigned cut = data[0];
    const std::uint8_t* bytes = data + 1;
    const std::size_t count = size - 1;

    kivra::LinkDecoder decoder;
    kivra::SoundingNotes notes;
    std::vector<std::uint32_t> out;
    std::size_t at = 0;
    while (at < count) {
        const std::size_t chunk = std::min<std::size_t>(count - at, (cut % 7) + 1);
        cut = cut * 33 + 5;
        const std::size_t before = out.size();
        if (decoder.Feed(std::span(bytes + at, chunk), out) != out.size() - before) std::abort();
        for (std::size_t i = before; i < out.size(); ++i) {
            const std::uint32_t m = out[i];
            if (!kivra::IsChannelVoiceMessage(m)) continue;
            const unsigned status = m & 0xFFu, d1 = (m >> 8) & 0xFFu, d2 = (m >> 16) & 0xFFu;
            const bool oneDataByte = (status & 0xE0u) == 0xC0u;
            if (status < 0x80 || status > 0xEF || d1 > 0x7F || d2 > 0x7F || (m >> 24) != 0 || (oneDataByte && d2 != 0))
                std::abort();
            notes.Track(m);
        }
        at += chunk;
        if (decoder.Pending() != at % 4) std::abort();
    }
    if (out.size() != count / 4) std::abort();
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::uint8_t* m = bytes + i * 4;
        const std::uint32_t expected = m[0] | (m[1] << 8) | (m[2] << 16) | (static_cast<std::uint32_t>(m[3]) << 24);
        if (out[i] != expected) std::abort();
    }
    const int sounding = notes.Count();
    if (sounding < 0 || sounding > 16 * 128) std::abort();
    const auto releases = notes.TakeReleases();
    if (static_cast<int>(releases.size()) != sounding || notes.Any()) std::abort();
    for (auto off : releases)
        if ((off & 0xF0u) != 0x90u || (off >> 16) != 0) std::abort();
    return 0;
}
