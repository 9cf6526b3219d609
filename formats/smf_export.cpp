#include "formats/smf_export.h"

#include "formats/filestream.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <span>
#include <system_error>
#include <unistd.h>

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

QString SystemError(int error) {
    return error != 0 ? QString::fromLocal8Bit(std::strerror(error)) : QStringLiteral("the system gave no reason");
}

std::filesystem::path PathOf(const QString& name) { return std::filesystem::path(QFile::encodeName(name).toStdString()); }

QString NameOf(const std::filesystem::path& path) { return QFile::decodeName(QByteArray::fromStdString(path.string())); }

// A name beside the target that no other export of this run uses.
std::filesystem::path TemporaryBeside(const std::filesystem::path& target) {
    static std::atomic<unsigned> counter{0};
    const std::string name = "." + target.filename().string() + ".kivra-" + std::to_string(::getpid()) + "-" +
                             std::to_string(counter++) + ".tmp";
    return target.parent_path() / name;
}

ExportResult WriteThrough(const QString& name, const std::vector<std::uint8_t>& bytes, const QString& whatIsKept) {
    FileStream out;
    out.flags("w");
    errno = 0;
    if (!out.OpenFile(name, true)) {
        return {false, QStringLiteral("%1\n\n%2 could not be created: %3.")
                           .arg(QString::fromLatin1(kExportOpenFailed), name, SystemError(errno))};
    }
    errno = 0;
    const bool written = out.WriteByteArray(bytes);
    const int writeError = errno;
    errno = 0;
    const bool closed = out.CloseFile();
    const int closeError = errno;
    if (!written || !closed) {
        return {false, QStringLiteral("The MIDI file could not be written: %1.\n\n%2")
                           .arg(SystemError(!written ? writeError : closeError), whatIsKept)};
    }
    return {true, {}};
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
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path requested = PathOf(sFileName);
    const fs::file_status status = fs::status(requested, ec);  // follows a symbolic link to its file
    const bool exists = fs::exists(status);
    // A device or a pipe cannot be replaced by renaming; it is written in place.
    if (exists && !fs::is_regular_file(status))
        return WriteThrough(sFileName, bytes, QStringLiteral("Part of the song may have been written to %1.").arg(sFileName));

    const QString kept = exists ? QStringLiteral("The file already at %1 was left as it was.").arg(sFileName)
                                : QStringLiteral("No file was created.");
    fs::path target = requested;
    if (exists) {
        const fs::path real = fs::canonical(requested, ec);
        if (!ec) target = real;
    }
    const fs::path temporary = TemporaryBeside(target);
    ExportResult result = WriteThrough(NameOf(temporary), bytes, kept);
    if (!result.ok) {
        fs::remove(temporary, ec);
        // The temporary name is ours: say which name the user gave.
        result.message.replace(NameOf(temporary), sFileName);
        return result;
    }
    if (exists) fs::permissions(temporary, fs::status(target, ec).permissions(), ec);
    fs::rename(temporary, target, ec);
    if (ec) {
        const QString reason = QString::fromStdString(ec.message());
        fs::remove(temporary, ec);
        return {false, QStringLiteral("The MIDI file could not be put in place as %1: %2.\n\n%3").arg(sFileName, reason, kept)};
    }
    return {true, {}};
}

ExportResult ExportMIDIFile(const QString& sFileName) {
    std::vector<int> lastStep = g_lLastStep;
    const std::vector<std::uint8_t> bytes = EncodeMIDIFile(CurrentSong(), lastStep);
    ExportResult result = WriteFileReplacing(sFileName, bytes);
    if (result.ok) {
        // The song's own length of g_lLastStep stays; only the tracks' entries change.
        if (g_lLastStep.size() < lastStep.size()) g_lLastStep.resize(lastStep.size(), 0);
        std::copy(lastStep.begin(), lastStep.end(), g_lLastStep.begin());
    }
    return result;
}

}  // namespace kivra
