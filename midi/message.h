#pragma once
// MIDI short messages: status bytes by kind, the packed form every MIDI service here passes
// around (status in bits 0-7, data 1 in bits 8-15, data 2 in bits 16-23, bits 24-31 zero), and
// how many bytes a message of each status has. Plain C++, no Qt: the link's relay uses it too.

#include <cstddef>
#include <cstdint>

namespace kivra {

// Channel voice statuses: the high four bits name the kind, the low four carry the channel.
inline constexpr std::uint8_t kNoteOffStatus = 0x80;
inline constexpr std::uint8_t kNoteOnStatus = 0x90;  // velocity 0 ends the note, as a note-off does
inline constexpr std::uint8_t kPolyPressureStatus = 0xA0;
inline constexpr std::uint8_t kControlChangeStatus = 0xB0;
inline constexpr std::uint8_t kProgramChangeStatus = 0xC0;
inline constexpr std::uint8_t kChannelPressureStatus = 0xD0;
inline constexpr std::uint8_t kPitchBendStatus = 0xE0;
// 0xF0..0xFF: system messages, never channel voice.
inline constexpr std::uint8_t kSystemStatus = 0xF0;
inline constexpr std::uint8_t kSysExStatus = 0xF0;     // system exclusive: data up to kSysExEndStatus
inline constexpr std::uint8_t kSysExEndStatus = 0xF7;  // in a MIDI file also the escape for raw bytes
inline constexpr std::uint8_t kMtcQuarterFrameStatus = 0xF1;
inline constexpr std::uint8_t kSongPositionStatus = 0xF2;
inline constexpr std::uint8_t kSongSelectStatus = 0xF3;
// In a MIDI file 0xFF starts a meta event (type, length, data); on a cable it is a system reset.
inline constexpr std::uint8_t kMetaEventStatus = 0xFF;
inline constexpr std::uint8_t kMetaTempo = 0x51;       // 3 bytes: microseconds per quarter note
inline constexpr std::uint8_t kMetaEndOfTrack = 0x2F;  // no data

constexpr bool IsStatusByte(unsigned byte) { return (byte & 0x80u) != 0; }
// The kind of a channel voice status (its high four bits), or the status itself for a system one.
constexpr unsigned StatusKind(unsigned status) { return status & 0xF0u; }
constexpr int StatusChannel(unsigned status) { return static_cast<int>(status & 0x0Fu); }

// Bytes in the message that `status` begins, status included: 3 for note off and on, poly
// pressure, control change, pitch bend and song position; 2 for program change, channel pressure,
// MTC quarter frame and song select; 1 for the other system statuses; 0 where the data decide the
// length (system exclusive) and for a data byte (below 0x80).
constexpr int ShortMessageLength(unsigned status) {
    if (status > 0xFFu || !IsStatusByte(status) || status == kSysExStatus) return 0;
    switch (StatusKind(status)) {
        case kProgramChangeStatus:
        case kChannelPressureStatus: return 2;
        case kSystemStatus:
            return status == kSongPositionStatus                                     ? 3
                   : status == kMtcQuarterFrameStatus || status == kSongSelectStatus ? 2
                                                                                     : 1;
        default: return 3;
    }
}

// Packs a short message; each part keeps its low eight bits.
constexpr std::uint32_t PackShortMessage(int status, int data1, int data2 = 0) {
    return (static_cast<std::uint32_t>(status) & 0xFFu) | ((static_cast<std::uint32_t>(data1) & 0xFFu) << 8) |
           ((static_cast<std::uint32_t>(data2) & 0xFFu) << 16);
}

// Packs a message as a port delivers it, `size` bytes: 0 unless it is a short message (a status
// byte and at most two more).
constexpr std::uint32_t PackReceivedBytes(const unsigned char* bytes, std::size_t size) {
    if (size == 0 || size > 3 || !IsStatusByte(bytes[0])) return 0;
    std::uint32_t packed = 0;
    for (std::size_t i = 0; i < size; ++i) packed |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    return packed;
}

// A packed message taken apart; data bytes as they stand (a malformed one may be above 127).
struct ShortMessage {
    std::uint8_t status = 0, data1 = 0, data2 = 0;
    constexpr unsigned Kind() const { return StatusKind(status); }
    constexpr int Channel() const { return StatusChannel(status); }
};
constexpr ShortMessage UnpackShortMessage(std::uint32_t packed) {
    return {static_cast<std::uint8_t>(packed & 0xFFu), static_cast<std::uint8_t>((packed >> 8) & 0xFFu),
            static_cast<std::uint8_t>((packed >> 16) & 0xFFu)};
}

// A well-formed channel voice message, packed: status 0x80..0xEF, its data bytes below 0x80, and
// every byte its kind does not use zero (the top byte always, the second data byte of a program
// change or channel pressure). That is exactly what the note entry points send. System messages
// (SysEx, clock, reset), a data byte standing as status, a data byte above 127 and stray bytes in
// an unused position are not.
constexpr bool IsChannelVoiceMessage(std::uint32_t packed) {
    const unsigned status = packed & 0xFFu;
    if (!IsStatusByte(status) || StatusKind(status) == kSystemStatus) return false;
    const std::uint32_t used = ShortMessageLength(status) == 2 ? 0x7F00u : 0x7F7F00u;
    return (packed & ~(used | 0xFFu)) == 0;
}

// A note-off or a note-on with velocity 0: the message that ends a note.
constexpr bool IsNoteRelease(std::uint32_t packed) {
    const unsigned kind = StatusKind(packed & 0xFFu);
    return kind == kNoteOffStatus || (kind == kNoteOnStatus && ((packed >> 16) & 0xFFu) == 0);
}

}  // namespace kivra
