#pragma once
// The link's wire format: a stream of 4-byte messages in both directions, each one packed short
// message sent lowest byte first (status, data 1, data 2, 0). No header, no length, no separator.
// Shared by the piano's link client and the relay server; plain C++, no Qt. Only channel voice
// messages (IsChannelVoiceMessage) may reach an output device; besides them only the band's
// transport messages (IsBandTransportMessage) may reach another player, and never an output.

#include "midi/message.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kivra {

inline constexpr int kLinkPort = 766;             // the port when the address names none
inline constexpr std::size_t kLinkMessageSize = 4;
inline constexpr std::uint8_t kChannelAssignStatus = 0xFF;  // server to client: FF, channel, any, any

// The server's message that gives a client its channel.
constexpr std::uint32_t ChannelAssignMessage(int channel) {
    return kChannelAssignStatus | ((static_cast<std::uint32_t>(channel) & 0xFFu) << 8);
}

// The band's transport: Play and Stop shared by the pianos of one relay. Real-time status bytes,
// which a synthesizer ignores and a piano outside the band drops; data bytes 7-bit, byte 4 zero
// as in every message. `channel` is the sender's link channel.
//   start  FA lo hi 00   Play pressed: lo + 128 x hi = tempo (BPM) + 256 x channel
//   stop   FC 00 00 00   Stop pressed
//   ping   F9 id 00 00   id = 16 x sequence (0..7) + channel of the asker
//   pong   FD id ch 00   the answer to ping `id`, from the member on channel `ch`
inline constexpr std::uint8_t kBandStartStatus = 0xFA;
inline constexpr std::uint8_t kBandStopStatus = 0xFC;
inline constexpr std::uint8_t kBandPingStatus = 0xF9;
inline constexpr std::uint8_t kBandPongStatus = 0xFD;

constexpr bool IsBandTransportMessage(std::uint32_t packed) {
    const unsigned status = packed & 0xFFu;
    const bool known = status == kBandStartStatus || status == kBandStopStatus || status == kBandPingStatus ||
                       status == kBandPongStatus;
    return known && (packed & 0xFF808000u) == 0;
}
constexpr std::uint32_t BandStartMessage(int tempo, int channel) {
    const auto value = static_cast<std::uint32_t>((tempo & 0xFF) | ((channel & 0x0F) << 8));
    return kBandStartStatus | ((value & 0x7Fu) << 8) | ((value >> 7) << 16);
}
constexpr int BandStartTempo(std::uint32_t start) { return static_cast<int>(((start >> 8) & 0x7Fu) | ((start >> 9) & 0x80u)); }
constexpr int BandStartChannel(std::uint32_t start) { return static_cast<int>((start >> 17) & 0x0Fu); }

// A relay with a room password takes a player only once these messages are its first: "F0" and
// three bytes of the password's digest each, so that old pianos, which never send them, are refused.
// `digest` is the SHA-256 of the password (see RelayHello); its first bytes are used.
inline constexpr std::uint8_t kHelloStatus = 0xF0;
inline constexpr std::size_t kHelloMessages = 3;
std::array<std::uint32_t, kHelloMessages> HelloMessages(std::span<const std::uint8_t> digest);

// One message as it goes on the wire.
constexpr std::array<char, kLinkMessageSize> EncodeLinkMessage(std::uint32_t packed) {
    return {static_cast<char>(packed & 0xFFu), static_cast<char>((packed >> 8) & 0xFFu),
            static_cast<char>((packed >> 16) & 0xFFu), static_cast<char>((packed >> 24) & 0xFFu)};
}

// Turns arrivals of any size into whole messages. Bytes of a message split across arrivals are
// kept until the rest comes, so no count of bytes loses anything. Memory is bounded: at most
// three bytes are held between calls.
class LinkDecoder {
public:
    // Appends every message completed by `bytes` to `out`, in order; returns how many it appended.
    std::size_t Feed(std::span<const std::uint8_t> bytes, std::vector<std::uint32_t>& out);
    std::size_t Feed(const char* data, std::size_t size, std::vector<std::uint32_t>& out) {
        return Feed(std::span(reinterpret_cast<const std::uint8_t*>(data), size), out);
    }

    // Bytes of an incomplete message waiting for the rest (0 to 3).
    std::size_t Pending() const { return pending_; }
    void Reset() { pending_ = 0; }

private:
    std::array<std::uint8_t, kLinkMessageSize> partial_{};
    std::size_t pending_ = 0;
};

// A token bucket: `perSecond` messages on average, up to `burst` at once. Plain arithmetic on the
// times it is given, so tests and both ends of the link use the same rule.
class MessageRate {
public:
    using Clock = std::chrono::steady_clock;
    MessageRate(double perSecond, double burst) : perSecond_(perSecond), burst_(burst), tokens_(burst) {}
    // True when one more message fits at `now`, and counts it.
    bool Take(Clock::time_point now);

private:
    double perSecond_;
    double burst_;
    double tokens_;
    Clock::time_point last_{};
};

// Notes that one party started and did not stop, per channel and note number, so that they can
// all be released when that party goes away. Fed with every message the party sent.
class SoundingNotes {
public:
    // Note-on with a velocity starts a note; a note-on with velocity 0 or a note-off (8c) ends it.
    void Track(std::uint32_t packed);
    bool Any() const { return count_ > 0; }
    // Whether the note that `packed` addresses (its channel and note number) is held.
    bool Holds(std::uint32_t packed) const { return on_[packed & 0x0Fu][(packed >> 8) & 0x7Fu]; }
    int Count() const { return count_; }
    // The note-offs (9c nn 00) of every sounding note, channel by channel, note by note; clears.
    std::vector<std::uint32_t> TakeReleases();

private:
    std::array<std::array<bool, 128>, 16> on_{};
    int count_ = 0;
};

}  // namespace kivra
