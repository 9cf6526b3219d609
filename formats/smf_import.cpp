#include "formats/smf_import.h"

#include "formats/filestream.h"
#include "midi/message.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <cstring>
#include <utility>
#include <vector>

namespace kivra {

namespace {

// Ticks beyond this make songs far larger than kMaxSongSteps whatever the division; refusing them
// early also keeps every tick x steps-per-beat product well inside 64 bits.
constexpr long long kMaxTick = 1LL << 40;
constexpr std::size_t kHeaderBytes = 14;

struct Refusal {
    QString reason;
    long long offset;
};

struct Onset {
    long long tick;  // then, once the grid is known, the step position
    std::uint8_t note;
};

struct TrackEvents {
    std::vector<Onset> onsets;        // Note Ons with a velocity, in file order (ticks never decrease)
    std::vector<long long> releases;  // ticks of Note Offs and Note Ons with velocity 0
    long long lastTick = 0;           // tick of the last event read
    int noteOnChannel = -1;
    int anyChannel = -1;
};

struct FileEvents {
    int division = 0;
    std::vector<TrackEvents> tracks;
    long long tempoUs = -1;  // first Set Tempo, microseconds per quarter note
    std::array<std::uint8_t, 16> patch{};
    std::uint16_t patchSet = 0;
    long long farthestTick = 0;
    long long farthestOffset = 0;  // where the event on farthestTick begins
};

std::uint32_t Be32(std::span<const std::uint8_t> b, std::size_t at) {
    return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) | (std::uint32_t{b[at + 2]} << 8) | b[at + 3];
}
std::uint16_t Be16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

enum class Vlq { Ok, Truncated, Corrupt };

// At most four bytes, as the standard allows; the value then fits 28 bits.
Vlq ReadVlq(std::span<const std::uint8_t> b, std::size_t& p, std::size_t end, std::uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
        if (p >= end) return Vlq::Truncated;
        const std::uint8_t byte = b[p++];
        value = (value << 7) | (byte & 0x7Fu);
        if (!(byte & 0x80)) return Vlq::Ok;
    }
    return Vlq::Corrupt;
}

Refusal CorruptNumber(std::size_t at) {
    return {QStringLiteral("a variable-length number is longer than four bytes"), static_cast<long long>(at)};
}

// Reads one track chunk's events from [p, end). A chunk cut short simply ends; only corrupt data
// refuses the file. The running status carries over from the previous track, as older writers
// expect.
std::optional<Refusal> ParseTrack(std::span<const std::uint8_t> b, std::size_t p, std::size_t end, std::uint8_t& running,
                                  FileEvents& file, TrackEvents& track) {
    long long tick = 0;
    // An event takes at least three bytes (delta, two data bytes under running status): enough
    // room for every note of the chunk, so the lists are never copied while they grow.
    const std::size_t room = std::min<std::size_t>((end - p) / 3, std::size_t{1} << 20);
    track.onsets.reserve(track.onsets.size() + room);
    track.releases.reserve(track.releases.size() + room);
    while (p < end) {
        const std::size_t eventAt = p;
        std::uint32_t delta = 0;
        const Vlq d = ReadVlq(b, p, end, delta);
        if (d == Vlq::Truncated) break;
        if (d == Vlq::Corrupt) return CorruptNumber(eventAt);
        tick += delta;
        if (tick > kMaxTick)
            return Refusal{QStringLiteral("an event lies too far from the start of its track"), static_cast<long long>(eventAt)};
        if (p >= end) break;

        std::uint8_t status = b[p];
        if (IsStatusByte(status)) {
            ++p;
            // Only channel messages set the running status; system and meta events leave it.
            if (status < kSystemStatus) running = status;
        } else {
            status = running;  // this byte is the first data byte
        }

        if (status == 0) {
            ++p;  // a data byte before any status: nothing to act on
        } else if (status < kSystemStatus) {
            const std::size_t n = static_cast<std::size_t>(ShortMessageLength(status) - 1);
            if (end - p < n) break;
            const std::uint8_t d1 = b[p] & 0x7F;
            const std::uint8_t d2 = n == 2 ? (b[p + 1] & 0x7F) : 0;
            p += n;
            const int channel = StatusChannel(status);
            const unsigned kind = StatusKind(status);
            if (track.anyChannel < 0) track.anyChannel = channel;
            if (kind == kNoteOnStatus) {
                if (track.noteOnChannel < 0) track.noteOnChannel = channel;
                if (d2 > 0)
                    track.onsets.push_back({tick, d1});
                else
                    track.releases.push_back(tick);
            } else if (kind == kNoteOffStatus) {
                track.releases.push_back(tick);
            } else if (kind == kProgramChangeStatus && !(file.patchSet & (1u << channel))) {
                file.patch[static_cast<std::size_t>(channel)] = d1;
                file.patchSet = static_cast<std::uint16_t>(file.patchSet | (1u << channel));
            }
        } else if (status == kSysExStatus || status == kSysExEndStatus || status == kMetaEventStatus) {
            std::uint8_t type = 0;
            if (status == kMetaEventStatus) {
                if (p >= end) break;
                type = b[p++];
            }
            const std::size_t lengthAt = p;
            std::uint32_t length = 0;
            const Vlq l = ReadVlq(b, p, end, length);
            if (l == Vlq::Truncated) break;
            if (l == Vlq::Corrupt) return CorruptNumber(lengthAt);
            if (end - p < length) break;
            if (status == kMetaEventStatus && type == kMetaTempo && length >= 3 && file.tempoUs < 0)
                file.tempoUs = (static_cast<long long>(b[p]) << 16) | (b[p + 1] << 8) | b[p + 2];
            p += length;
            if (status == kMetaEventStatus && type == kMetaEndOfTrack) {
                track.lastTick = std::max(track.lastTick, tick);
                break;
            }
        } else {
            // System common and real-time statuses carry a fixed number of data bytes.
            const std::size_t n = static_cast<std::size_t>(ShortMessageLength(status) - 1);
            if (end - p < n) break;
            p += n;
        }
        track.lastTick = std::max(track.lastTick, tick);
        if (tick > file.farthestTick) {
            file.farthestTick = tick;
            file.farthestOffset = static_cast<long long>(eventAt);
        }
    }
    return std::nullopt;
}

// The 14 bytes of the header chunk, checked before anything else of a file is read.
std::optional<Refusal> CheckHeader(std::span<const std::uint8_t> b) {
    const auto size = b.size();
    if (size < 4 || std::memcmp(b.data(), "MThd", 4) != 0)
        return Refusal{QStringLiteral("it does not begin with \"MThd\", so it is not a Standard MIDI File"), 0};
    if (size < 8) return Refusal{QStringLiteral("the file ends inside its header"), static_cast<long long>(size)};
    const std::uint32_t headerLength = Be32(b, 4);
    if (headerLength != 6)
        return Refusal{QStringLiteral("its header is %1 bytes long where a Standard MIDI File has 6").arg(headerLength), 4};
    if (size < kHeaderBytes) return Refusal{QStringLiteral("the file ends inside its header"), static_cast<long long>(size)};
    const int format = Be16(b, 8);
    if (format >= 2)
        return Refusal{QStringLiteral("it is a format %1 file; only formats 0 and 1 hold a single song").arg(format), 8};
    const int trackCount = Be16(b, 10);
    if (trackCount == 0) return Refusal{QStringLiteral("it holds no tracks"), 10};
    if (trackCount > 32)
        return Refusal{QStringLiteral("it holds %1 tracks; a song has at most 32").arg(trackCount), 10};
    const int division = Be16(b, 12);
    if (division & 0x8000)
        return Refusal{QStringLiteral("its timing counts time-code frames instead of beats"), 12};
    if (division == 0) return Refusal{QStringLiteral("its timing says 0 ticks per beat"), 12};
    return std::nullopt;
}

std::optional<Refusal> ParseChunks(std::span<const std::uint8_t> b, FileEvents& file) {
    if (auto refused = CheckHeader(b)) return refused;
    const auto size = b.size();
    const int trackCount = Be16(b, 10);
    const int division = Be16(b, 12);
    file.division = division;
    file.tracks.resize(static_cast<std::size_t>(trackCount));

    std::uint8_t running = 0;
    std::size_t p = 14;
    std::size_t t = 0;
    // Missing track chunks leave their tracks empty; a chunk longer than the file ends with it.
    while (t < file.tracks.size() && size - p >= 8) {
        const bool isTrack = std::memcmp(b.data() + p, "MTrk", 4) == 0;
        const std::size_t start = p + 8;
        const std::size_t end = start + std::min<std::size_t>(Be32(b, p + 4), size - start);
        if (isTrack) {
            if (auto refused = ParseTrack(b, start, end, running, file, file.tracks[t])) return refused;
            ++t;
        }
        p = end;  // chunks of other kinds are skipped by their length
    }
    return std::nullopt;
}

// Steps per beat for a division above 255: of the grids of 1 to 255 steps per beat, the one that
// puts the most onsets exactly on a step; among those, the one whose farthest-moved onset moves
// least; then the coarsest. Only an onset's place within its beat matters, so each distinct
// place is weighed once.
long long ChooseGrid(const FileEvents& file) {
    const long long D = file.division;
    std::vector<long long> count(static_cast<std::size_t>(D), 0);
    for (const TrackEvents& track : file.tracks)
        for (const Onset& onset : track.onsets) ++count[static_cast<std::size_t>(onset.tick % D)];
    std::vector<std::pair<long long, long long>> places;  // (ticks into the beat, onsets there)
    for (long long r = 0; r < D; ++r)
        if (count[static_cast<std::size_t>(r)] > 0) places.emplace_back(r, count[static_cast<std::size_t>(r)]);

    long long best = 1, bestExact = -1, bestError = 0;  // bestError in 1/(D x best) beat
    for (long long N = 1; N <= 255; ++N) {
        long long exactCount = 0, maxError = 0;
        for (const auto& [r, n] : places) {
            const long long x = r * N;
            const long long error = std::abs(x - (2 * x + D) / (2 * D) * D);
            if (error == 0)
                exactCount += n;
            else
                maxError = std::max(maxError, error);
        }
        // Errors in beats compared across grids: maxError / (D x N) against bestError / (D x best).
        if (exactCount > bestExact || (exactCount == bestExact && maxError * best < bestError * N)) {
            best = N;
            bestExact = exactCount;
            bestError = maxError;
        }
    }
    return best;
}

ImportResult Refuse(Refusal r) {
    ImportResult result;
    result.reason = std::move(r.reason);
    result.offset = r.offset;
    return result;
}

}  // namespace

QString ImportTiming::Describe(int notesPerBeat) const {
    if (moved == 0) return {};
    // A step is 1/notesPerBeat beat: the largest move in steps, as the track lists count.
    const double steps = static_cast<double>(maxError) * notesPerBeat / static_cast<double>(errorUnit);
    return QStringLiteral("%1 of %2 notes moved to fit %3 %4 per beat, by at most %5 step.")
        .arg(moved)
        .arg(onsets)
        .arg(notesPerBeat)
        .arg(notesPerBeat == 1 ? QStringLiteral("step") : QStringLiteral("steps"))
        .arg(QString::number(steps, 'g', 2));
}

QString ImportResult::Describe() const {
    if (Accepted()) return {};
    return offset >= 0 ? QStringLiteral("%1 (at byte %2)").arg(reason).arg(offset) : reason;
}

ImportResult ParseMIDIFile(std::span<const std::uint8_t> bytes, long long maxCells) {
    FileEvents file;
    if (auto refused = ParseChunks(bytes, file)) return Refuse(std::move(*refused));

    // The grid: steps per beat, and where each onset falls on it.
    const long long D = file.division;
    const long long N = D <= 255 ? D : ChooseGrid(file);
    bool exact = true;
    for (const TrackEvents& track : file.tracks)
        for (const Onset& onset : track.onsets) exact = exact && onset.tick * N % D == 0;
    const bool oneTickPerStep = N == D;
    auto nearest = [&](long long tick) { return oneTickPerStep ? tick : (2 * tick * N + D) / (2 * D); };
    auto above = [&](long long tick) { return (tick * N + D - 1) / D; };

    // Each onset's tick is replaced by its position on the grid; how far it moved is counted.
    ImportResult result;
    bool onsetAtZero = false;
    for (TrackEvents& track : file.tracks) {
        long long previousTick = -1, previous = -1;
        for (Onset& onset : track.onsets) {
            long long position = previous;
            if (onset.tick != previousTick) {
                previousTick = onset.tick;
                position = nearest(onset.tick);
                // Rounding may land an onset on the step of an earlier tick: the step above it is
                // still within one step, so the two notes stay apart when it is free.
                if (!exact && position <= previous && above(onset.tick) > previous) position = above(onset.tick);
                position = std::max(position, previous);
            }
            const long long error = std::abs(onset.tick * N - position * D);  // in 1/(D x N) beat
            ++result.timing.onsets;
            if (error > 0) {
                ++result.timing.moved;
                result.timing.maxError = std::max(result.timing.maxError, error);
            }
            onset.tick = position;
            onsetAtZero = onsetAtZero || position == 0;
            previous = position;
        }
    }
    result.timing.errorUnit = D * N;
    const long long shift = onsetAtZero ? 0 : 1;

    long long length = 0;
    for (const TrackEvents& track : file.tracks) {
        if (!track.onsets.empty()) length = std::max(length, track.onsets.back().tick - shift + 1);
        if (!track.releases.empty()) length = std::max(length, nearest(track.releases.back()) - shift);
        length = std::max(length, nearest(track.lastTick) - shift);
    }
    const long long cells = length * static_cast<long long>(file.tracks.size());
    if (length > kMaxSongSteps || cells > maxCells)
        return Refuse({QStringLiteral("the song would be %1 steps long, more than this program can hold").arg(length),
                       file.farthestOffset});

    SongData& song = result.song.emplace();
    song.NumSteps = static_cast<int>(length);
    song.NotesPerBeat = static_cast<int>(N);
    if (file.tempoUs == 0)
        song.Tempo = 240;
    else if (file.tempoUs > 0)
        song.Tempo = static_cast<int>(std::clamp((60'000'000LL + file.tempoUs / 2) / file.tempoUs, 30LL, 240LL));
    song.ChannelPatch = file.patch;
    song.PatchSet = file.patchSet;
    song.Tracks.resize(file.tracks.size());
    for (std::size_t t = 0; t < file.tracks.size(); ++t) {
        const TrackEvents& events = file.tracks[t];
        SongTrack& track = song.Tracks[t];
        track.Channel = static_cast<std::uint8_t>(events.noteOnChannel >= 0 ? events.noteOnChannel
                                                  : events.anyChannel >= 0  ? events.anyChannel
                                                                            : 0);
        track.Steps.resize(static_cast<std::size_t>(length));
        // Onsets come in step order: each step's notes are counted first and stored with one allocation.
        const auto& onsets = events.onsets;
        for (std::size_t i = 0; i < onsets.size();) {
            std::size_t j = i + 1;
            while (j < onsets.size() && onsets[j].tick == onsets[i].tick) ++j;
            SongStep& step = track.Steps[static_cast<std::size_t>(onsets[i].tick - shift)];
            const std::size_t count = std::min<std::size_t>(j - i, 255);
            step.StepType = StepNotes;
            step.NoteCount = static_cast<std::uint8_t>(count);
            step.Notes.resize(count);
            for (std::size_t k = 0; k < count; ++k) step.Notes[k] = onsets[i + k].note;
            i = j;
        }
        for (long long tick : events.releases) {
            const long long s = nearest(tick) - shift;
            if (s >= 0 && s < length && track.Steps[static_cast<std::size_t>(s)].StepType == StepEmpty)
                track.Steps[static_cast<std::size_t>(s)].StepType = StepBreak;
        }
    }
    return result;
}

ImportResult ReadMIDIFile(const QString& sFileName) {
    FileStream in;
    in.flags(QStringLiteral("r"));
    if (!in.OpenFile(sFileName, false))
        return Refuse({QStringLiteral("the file could not be opened: %1").arg(in.ErrorString()), -1});
    const std::int64_t length = in.GetLength();
    if (length == 0) return Refuse({QStringLiteral("the file is empty, so it is not a Standard MIDI File"), 0});
    // The header first: a file that is not a song is refused without reading the rest of it.
    std::vector<std::uint8_t> bytes;
    in.ReadByteArray(bytes, static_cast<std::int32_t>(std::min<std::int64_t>(length, kHeaderBytes)));
    if (auto refused = CheckHeader(bytes)) return Refuse(std::move(*refused));
    if (length > kMaxMIDIFileBytes)
        return Refuse({QStringLiteral("the file is %1 MiB long; songs larger than %2 MiB are not opened")
                           .arg(length >> 20)
                           .arg(kMaxMIDIFileBytes >> 20),
                       -1});
    try {
        in.SetPosition(0);
        if (!in.ReadByteArray(bytes, static_cast<std::int32_t>(length)))
            return Refuse({QStringLiteral("the file could not be read: %1").arg(in.ErrorString()), -1});
        return ParseMIDIFile(bytes);
    } catch (const std::bad_alloc&) {
        return Refuse({QStringLiteral("there is not enough memory to open it"), -1});
    }
}

ImportResult ImportMIDIFile(const QString& sFileName) {
    ImportResult result = ReadMIDIFile(sFileName);
    if (result.Accepted()) {
        ApplySong(std::move(*result.song));
        result.song.emplace();  // the song now lives in the program; keep the result "accepted"
    }
    return result;
}

}  // namespace kivra
