#include "formats/smf_export.h"

#include "formats/filestream.h"
#include "musicmaker/songops.h"

#include <QFileInfo>

#include <algorithm>
#include <new>
#include <span>

namespace kivra {

namespace {

constexpr std::uint8_t kVelocityStart = 100;

class ByteWriter {
public:
    std::vector<std::uint8_t> bytes;

    void Byte(std::uint8_t b) { bytes.push_back(b); }
    void Tag(const char (&tag)[5]) { bytes.insert(bytes.end(), tag, tag + 4); }
    void Be16(std::uint16_t v) {
        Byte(static_cast<std::uint8_t>(v >> 8));
        Byte(static_cast<std::uint8_t>(v));
    }
    void Be32At(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    }
    // Shortest form, most significant group first, as FileStream::WriteVLQ writes it.
    void Vlq(std::uint64_t v) {
        std::uint8_t groups[10];
        int n = 0;
        do {
            groups[n++] = static_cast<std::uint8_t>(v & 0x7F);
            v >>= 7;
        } while (v > 0);
        while (n-- > 1) Byte(groups[n] | 0x80);
        Byte(groups[0]);
    }
};

// The notes of a step, or none when the step is outside the song.
std::span<const std::uint8_t> NotesOf(const SongTrack& track, int numSteps, long long step) {
    if (step < 0 || step >= numSteps || step >= static_cast<long long>(track.Steps.size())) return {};
    const SongStep& s = track.Steps[static_cast<std::size_t>(step)];
    return {s.Notes.data(), std::min<std::size_t>(s.NoteCount, s.Notes.size())};
}

void EncodeTrack(ByteWriter& w, const SongSource& song, const SongTrack& track, bool withTempo, int& lastStep) {
    const std::size_t lengthAt = w.bytes.size() + 4;
    w.Tag("MTrk");
    w.bytes.insert(w.bytes.end(), 4, 0);
    const std::uint8_t channel = track.Channel & 0x0F;
    if (withTempo) {
        const long long us = std::clamp<long long>((60'000'000LL + song.Tempo / 2) / song.Tempo, 1, 0xFFFFFF);
        for (std::uint8_t b : {0x00, 0xFF, 0x51, 0x03}) w.Byte(b);
        for (int shift = 16; shift >= 0; shift -= 8) w.Byte(static_cast<std::uint8_t>(us >> shift));
    }
    w.Byte(0x00);
    w.Byte(0xC0 | channel);
    w.Byte(song.ChannelPatch[channel] & 0x7F);

    // Every event falls on the tick of its step, step s on tick s + 1, whatever was written
    // before it: the delta counts from the last event written.
    long long lastTick = 0;
    long long notesStep = lastStep;
    auto event = [&](long long tick, std::uint8_t note, std::uint8_t velocity) {
        if (note > 127) return;
        w.Vlq(static_cast<std::uint64_t>(tick - lastTick));
        w.Byte(0x90 | channel);
        w.Byte(note);
        w.Byte(velocity);
        lastTick = tick;
    };
    auto release = [&](long long tick) {
        for (std::uint8_t note : NotesOf(track, song.NumSteps, notesStep)) event(tick, note, 0);
    };
    const long long steps = std::min<long long>(song.NumSteps, static_cast<long long>(track.Steps.size()));
    for (long long s = 0; s < steps; ++s) {
        const SongStep& step = track.Steps[static_cast<std::size_t>(s)];
        if (step.StepType == StepBreak) {
            release(s + 1);
        } else if (step.StepType == StepNotes) {
            release(s + 1);
            for (std::uint8_t note : NotesOf(track, song.NumSteps, s)) event(s + 1, note, kVelocityStart);
            notesStep = s;
        }
    }
    release(static_cast<long long>(song.NumSteps) + 1);
    for (std::uint8_t b : {0x00, 0xFF, 0x2F, 0x00}) w.Byte(b);
    w.Be32At(lengthAt, static_cast<std::uint32_t>(w.bytes.size() - (lengthAt + 4)));
    lastStep = static_cast<int>(notesStep);
}

}  // namespace

std::vector<std::uint8_t> EncodeMIDIFile(const SongSource& song, std::vector<int>& lastStep) {
    ByteWriter w;
    const std::size_t trackCount = std::min<std::size_t>(song.Tracks.size(), 0xFFFF);
    w.bytes.reserve(14 + trackCount * 32);
    w.Tag("MThd");
    for (std::uint8_t b : {0, 0, 0, 6, 0, 1}) w.Byte(b);
    w.Be16(static_cast<std::uint16_t>(trackCount));
    w.Be16(static_cast<std::uint16_t>(std::clamp(song.NotesPerBeat, 1, 0x7FFF)));
    if (lastStep.size() < trackCount) lastStep.resize(trackCount, 0);
    const bool withTempo = song.Tempo != 120 && song.Tempo > 0;
    for (std::size_t t = 0; t < trackCount; ++t) EncodeTrack(w, song, song.Tracks[t], withTempo && t == 0, lastStep[t]);
    return std::move(w.bytes);
}

ExportResult WriteFileReplacing(const QString& sFileName, const std::vector<std::uint8_t>& bytes) {
    const bool existed = QFileInfo::exists(sFileName);
    FileStream out;
    out.flags(QStringLiteral("w"));
    if (!out.OpenFile(sFileName, true)) {
        return {false, QStringLiteral("%1\n\n%2 could not be created: %3.")
                           .arg(QString::fromLatin1(kExportOpenFailed), sFileName, out.ErrorString())};
    }
    const bool written = bytes.empty() || out.WriteByteArray(bytes);
    const bool replacing = out.Replacing();
    if (out.CloseFile() && written) return {true, {}};
    const QString kept = !replacing ? QStringLiteral("Part of the song may have been written to %1.").arg(sFileName)
                         : existed  ? QStringLiteral("The file already at %1 was left as it was.").arg(sFileName)
                                    : QStringLiteral("No file was created.");
    return {false, QStringLiteral("The MIDI file could not be written: %1.\n\n%2").arg(out.ErrorString(), kept)};
}

ExportResult ExportMIDIFile(const QString& sFileName) {
    std::vector<int> lastStep = g_lLastStep;
    std::vector<std::uint8_t> bytes;
    try {
        bytes = EncodeMIDIFile(CurrentSong(), lastStep);
    } catch (const std::bad_alloc&) {
        return {false, QStringLiteral("There is not enough memory to write the song. No file was written.")};
    }
    ExportResult result = WriteFileReplacing(sFileName, bytes);
    if (result.ok) {
        SetLastSteps(lastStep);
        MarkSongSaved();
    }
    return result;
}

}  // namespace kivra
