#include "formats/smf_export.h"

#include "formats/filestream.h"
#include "midi/message.h"
#include "musicmaker/notespans.h"
#include "musicmaker/songops.h"

#include <QFileInfo>

#include <algorithm>
#include <new>

namespace kivra {

namespace {

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

// changes: the caller's buffer, reused from track to track.
void EncodeTrack(ByteWriter& w, const SongSource& song, const SongTrack& track, bool withTempo, int& lastStep,
                 std::vector<NoteChange>& changes) {
    const std::size_t lengthAt = w.bytes.size() + 4;
    w.Tag("MTrk");
    w.bytes.insert(w.bytes.end(), 4, 0);
    const std::uint8_t channel = track.Channel & 0x0F;
    if (withTempo) {
        const long long us = std::clamp<long long>((60'000'000LL + song.Tempo / 2) / song.Tempo, 1, 0xFFFFFF);
        for (std::uint8_t b : {std::uint8_t{0}, kMetaEventStatus, kMetaTempo, std::uint8_t{3}}) w.Byte(b);
        for (int shift = 16; shift >= 0; shift -= 8) w.Byte(static_cast<std::uint8_t>(us >> shift));
    }
    w.Byte(0x00);
    w.Byte(kProgramChangeStatus | channel);
    w.Byte(song.ChannelPatch[channel] & 0x7F);

    // Every event falls on the tick of its step, step s on tick s + 1, whatever was written
    // before it: the delta counts from the last event written.
    changes.clear();
    AppendNoteChanges(track, song.NumSteps, 0, song.NumSteps, true, lastStep, changes);
    long long lastTick = 0;
    for (const NoteChange& c : changes) {
        if (c.note > 127) continue;
        const long long tick = static_cast<long long>(c.step) + 1;
        w.Vlq(static_cast<std::uint64_t>(tick - lastTick));
        w.Byte(kNoteOnStatus | channel);
        w.Byte(c.note);
        w.Byte(c.velocity);
        lastTick = tick;
    }
    for (std::uint8_t b : {std::uint8_t{0}, kMetaEventStatus, kMetaEndOfTrack, std::uint8_t{0}}) w.Byte(b);
    w.Be32At(lengthAt, static_cast<std::uint32_t>(w.bytes.size() - (lengthAt + 4)));
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
    std::vector<NoteChange> changes;
    for (std::size_t t = 0; t < trackCount; ++t)
        EncodeTrack(w, song, song.Tracks[t], withTempo && t == 0, lastStep[t], changes);
    return std::move(w.bytes);
}

ExportResult WriteFileReplacing(const QString& sFileName, const std::vector<std::uint8_t>& bytes) {
    const bool existed = QFileInfo::exists(sFileName);
    FileStream out;
    out.flags(QStringLiteral("w"));
    if (!out.OpenFile(sFileName, true)) {
        return {false, QCoreApplication::translate("MidiFiles", "%1\n\n%2 could not be created: %3.")
                           .arg(QCoreApplication::translate("MidiFiles", kExportOpenFailed), sFileName, out.ErrorString())};
    }
    const bool written = bytes.empty() || out.WriteByteArray(bytes);
    const bool replacing = out.Replacing();
    if (out.CloseFile() && written) return {true, {}};
    const QString kept = !replacing ? QCoreApplication::translate("MidiFiles", "Part of the song may have been written to %1.").arg(sFileName)
                         : existed  ? QCoreApplication::translate("MidiFiles", "The file already at %1 was left as it was.").arg(sFileName)
                                    : QCoreApplication::translate("MidiFiles", "No file was created.");
    return {false, QCoreApplication::translate("MidiFiles", "The MIDI file could not be written: %1.\n\n%2").arg(out.ErrorString(), kept)};
}

ExportResult ExportMIDIFile(const QString& sFileName) {
    std::vector<int> lastStep = g_lLastStep;
    std::vector<std::uint8_t> bytes;
    try {
        bytes = EncodeMIDIFile(CurrentSong(), lastStep);
    } catch (const std::bad_alloc&) {
        return {false, QCoreApplication::translate("MidiFiles", "There is not enough memory to write the song. No file was written.")};
    }
    ExportResult result = WriteFileReplacing(sFileName, bytes);
    if (result.ok) {
        SetLastSteps(lastStep);
        MarkSongSaved();
    }
    return result;
}

}  // namespace kivra
