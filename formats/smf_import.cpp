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

// Where a track's events lie, and the running status its first event inherits.
struct TrackChunk {
    std::size_t start = 0, end = 0;
    std::uint8_t running = 0;
};

// What the first pass learns of a track: enough to choose the grid and bound the song's length
// before any step exists.
struct TrackScan {
    TrackChunk chunk;
    long long firstOnset = -1, lastOnset = -1;  // ticks of Note Ons with a velocity
    long long lastRelease = -1;                 // tick of the last Note Off or Note On with velocity 0
    long long lastTick = 0;                     // tick of the last event read
    int noteOnChannel = -1;
    int anyChannel = -1;
};

struct FileScan {
    int division = 0;
    std::vector<TrackScan> tracks;
    long long tempoUs = -1;  // first Set Tempo, microseconds per quarter note
    std::array<std::uint8_t, 16> patch{};
    std::uint16_t patchSet = 0;
    long long farthestTick = 0;
    long long farthestOffset = 0;        // where the event on farthestTick begins
    std::vector<long long> onsetPlaces;  // divisions above 255: Note Ons per tick within the beat
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
    return {QCoreApplication::translate("MidiFiles", "a variable-length number is longer than four bytes"), static_cast<long long>(at)};
}

// Walks one track chunk's events in [p, end), telling `sink` of each: Onset(tick, note, velocity),
// Release(tick), Channel(channel, kind, first data byte), Tempo(us), EndOfTrack(tick) and, after
// each other event, Event(tick, offset). A chunk cut short simply ends; only corrupt data refuses
// the file. The running status carries over from the previous track, as older writers expect.
// Nothing is allocated per event.
template <typename Sink>
std::optional<Refusal> WalkTrack(std::span<const std::uint8_t> b, std::size_t p, std::size_t end, std::uint8_t& running,
                                 Sink& sink) {
    long long tick = 0;
    while (p < end) {
        const std::size_t eventAt = p;
        std::uint32_t delta = 0;
        const Vlq d = ReadVlq(b, p, end, delta);
        if (d == Vlq::Truncated) break;
        if (d == Vlq::Corrupt) return CorruptNumber(eventAt);
        tick += delta;
        if (tick > kMaxTick)
            return Refusal{QCoreApplication::translate("MidiFiles", "an event lies too far from the start of its track"), static_cast<long long>(eventAt)};
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
            const unsigned kind = StatusKind(status);
            sink.Channel(StatusChannel(status), static_cast<int>(kind), d1);
            if (kind == kNoteOnStatus && d2 > 0)
                sink.Onset(tick, d1, d2);
            else if (kind == kNoteOnStatus || kind == kNoteOffStatus)
                sink.Release(tick);
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
            if (status == kMetaEventStatus && type == kMetaTempo && length >= 3)
                sink.Tempo((static_cast<long long>(b[p]) << 16) | (b[p + 1] << 8) | b[p + 2]);
            p += length;
            if (status == kMetaEventStatus && type == kMetaEndOfTrack) {
                sink.EndOfTrack(tick);
                break;
            }
        } else {
            // System common and real-time statuses carry a fixed number of data bytes.
            const std::size_t n = static_cast<std::size_t>(ShortMessageLength(status) - 1);
            if (end - p < n) break;
            p += n;
        }
        sink.Event(tick, eventAt);
    }
    return std::nullopt;
}

// The first pass: what a track holds, and what the file says for the whole song.
struct Scanner {
    FileScan& file;
    TrackScan& track;

    void Onset(long long tick, std::uint8_t, std::uint8_t) {
        if (track.firstOnset < 0) track.firstOnset = tick;
        track.lastOnset = tick;
        if (!file.onsetPlaces.empty()) ++file.onsetPlaces[static_cast<std::size_t>(tick % file.division)];
    }
    void Release(long long tick) { track.lastRelease = tick; }
    void Channel(int channel, int kind, std::uint8_t d1) {
        if (track.anyChannel < 0) track.anyChannel = channel;
        if (kind == 0x90 && track.noteOnChannel < 0) track.noteOnChannel = channel;
        if (kind == 0xC0 && !(file.patchSet & (1u << channel))) {
            file.patch[static_cast<std::size_t>(channel)] = d1;
            file.patchSet = static_cast<std::uint16_t>(file.patchSet | (1u << channel));
        }
    }
    void Tempo(long long us) {
        if (file.tempoUs < 0) file.tempoUs = us;
    }
    void EndOfTrack(long long tick) { track.lastTick = std::max(track.lastTick, tick); }
    void Event(long long tick, std::size_t at) {
        track.lastTick = std::max(track.lastTick, tick);
        if (tick > file.farthestTick) {
            file.farthestTick = tick;
            file.farthestOffset = static_cast<long long>(at);
        }
    }
};

// The 14 bytes of the header chunk, checked before anything else of a file is read.
std::optional<Refusal> CheckHeader(std::span<const std::uint8_t> b) {
    const auto size = b.size();
    if (size < 4 || std::memcmp(b.data(), "MThd", 4) != 0)
        return Refusal{QCoreApplication::translate("MidiFiles", "it does not begin with \"MThd\", so it is not a Standard MIDI File"), 0};
    if (size < 8) return Refusal{QCoreApplication::translate("MidiFiles", "the file ends inside its header"), static_cast<long long>(size)};
    const std::uint32_t headerLength = Be32(b, 4);
    if (headerLength != 6)
        return Refusal{QCoreApplication::translate("MidiFiles", "its header is %1 bytes long where a Standard MIDI File has 6").arg(headerLength), 4};
    if (size < kHeaderBytes) return Refusal{QCoreApplication::translate("MidiFiles", "the file ends inside its header"), static_cast<long long>(size)};
    const int format = Be16(b, 8);
    if (format >= 2)
        return Refusal{QCoreApplication::translate("MidiFiles", "it is a format %1 file; only formats 0 and 1 hold a single song").arg(format), 8};
    const int trackCount = Be16(b, 10);
    if (trackCount == 0) return Refusal{QCoreApplication::translate("MidiFiles", "it holds no tracks"), 10};
    if (trackCount > 32)
        return Refusal{QCoreApplication::translate("MidiFiles", "it holds %1 tracks; a song has at most 32").arg(trackCount), 10};
    const int division = Be16(b, 12);
    if (division & 0x8000)
        return Refusal{QCoreApplication::translate("MidiFiles", "its timing counts time-code frames instead of beats"), 12};
    if (division == 0) return Refusal{QCoreApplication::translate("MidiFiles", "its timing says 0 ticks per beat"), 12};
    return std::nullopt;
}

std::optional<Refusal> ScanChunks(std::span<const std::uint8_t> b, FileScan& file) {
    if (auto refused = CheckHeader(b)) return refused;
    const auto size = b.size();
    const int trackCount = Be16(b, 10);
    const int division = Be16(b, 12);
    file.division = division;
    file.tracks.resize(static_cast<std::size_t>(trackCount));
    if (division > 255) file.onsetPlaces.assign(static_cast<std::size_t>(division), 0);

    std::uint8_t running = 0;
    std::size_t p = 14;
    std::size_t t = 0;
    // Missing track chunks leave their tracks empty; a chunk longer than the file ends with it.
    while (t < file.tracks.size() && size - p >= 8) {
        const bool isTrack = std::memcmp(b.data() + p, "MTrk", 4) == 0;
        const std::size_t start = p + 8;
        const std::size_t end = start + std::min<std::size_t>(Be32(b, p + 4), size - start);
        if (isTrack) {
            TrackScan& track = file.tracks[t++];
            track.chunk = {start, end, running};
            Scanner scanner{file, track};
            if (auto refused = WalkTrack(b, start, end, running, scanner)) return refused;
        }
        p = end;  // chunks of other kinds are skipped by their length
    }
    return std::nullopt;
}

// Steps per beat for a division above 255: of the grids of 1 to 255 steps per beat, the one that
// puts the most onsets exactly on a step; among those, the one whose farthest-moved onset moves
// least; then the coarsest. Only an onset's place within its beat matters, so each distinct
// place is weighed once.
long long ChooseGrid(const FileScan& file) {
    const long long D = file.division;
    const std::vector<long long>& count = file.onsetPlaces;
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
    return QCoreApplication::translate("MidiFiles", "%1 of %2 notes moved to fit %3 %4 per beat, by at most %5 step.")
        .arg(moved)
        .arg(onsets)
        .arg(notesPerBeat)
        .arg(notesPerBeat == 1 ? QCoreApplication::translate("MidiFiles", "step") : QCoreApplication::translate("MidiFiles", "steps"))
        .arg(QString::number(steps, 'g', 2));
}

QString ImportResult::Describe() const {
    if (Accepted()) return {};
    return offset >= 0 ? QCoreApplication::translate("MidiFiles", "%1 (at byte %2)").arg(reason).arg(offset) : reason;
}

namespace {

// Where ticks fall on the song's grid of N steps per beat, for a division of D ticks per beat.
struct Grid {
    long long D = 1, N = 1;
    bool exact = true;  // every onset lies exactly on a step
    long long Nearest(long long tick) const { return N == D ? tick : (2 * tick * N + D) / (2 * D); }
    long long Above(long long tick) const { return (tick * N + D - 1) / D; }
};

// The second pass: writes one track's steps in place as its events go by. Steps up to `length`
// exist beforehand; an onset beyond them grows the track, and the song, while the song stays
// within its bounds.
struct Builder {
    const Grid& grid;
    long long shift;
    SongSteps& steps;
    ImportTiming& timing;
    long long& length;                  // the song's length so far, in steps
    std::size_t trackCount;
    long long maxCells;
    bool tooLong = false;
    long long previousTick = -1, previous = -1;  // the last onset's tick and grid position
    long long pendingBreak = -1;                 // a release on the step just past `length`

    void Onset(long long tick, std::uint8_t note, std::uint8_t velocity) {
        long long position = previous;
        if (tick != previousTick) {
            previousTick = tick;
            position = grid.Nearest(tick);
            // Rounding may land an onset on the step of an earlier tick: the step above it is
            // still within one step, so the two notes stay apart when it is free.
            if (!grid.exact && position <= previous && grid.Above(tick) > previous) position = grid.Above(tick);
            position = std::max(position, previous);
        }
        const long long error = std::abs(tick * grid.N - position * grid.D);  // in 1/(D x N) beat
        ++timing.onsets;
        if (error > 0) {
            ++timing.moved;
            timing.maxError = std::max(timing.maxError, error);
        }
        previous = position;
        const long long s = position - shift;
        if (tooLong || s < 0) return;
        if (s >= length) {
            length = s + 1;
            if (length > kMaxSongSteps || length * static_cast<long long>(trackCount) > maxCells) {
                tooLong = true;
                return;
            }
        }
        if (static_cast<std::size_t>(s) >= steps.size()) steps.resize(static_cast<std::size_t>(s) + 1);
        SongStep& step = steps[static_cast<std::size_t>(s)];
        step.StepType = StepNotes;
        step.Notes.push_back(note, velocity);  // the first 255 notes of a tick
        step.NoteCount = static_cast<std::uint8_t>(step.Notes.size());
    }
    // A release makes a break of a step where no note starts, whenever that note comes.
    void Release(long long tick) {
        const long long s = grid.Nearest(tick) - shift;
        if (s < 0) return;
        if (static_cast<std::size_t>(s) < steps.size()) {
            if (steps[static_cast<std::size_t>(s)].StepType == StepEmpty) steps[static_cast<std::size_t>(s)].StepType = StepBreak;
        } else {
            pendingBreak = s;  // kept if the song grows to hold it
        }
    }
    void Channel(int, int, std::uint8_t) {}
    void Tempo(long long) {}
    void EndOfTrack(long long) {}
    void Event(long long, std::size_t) {}
};

}  // namespace

ImportResult ParseMIDIFile(std::span<const std::uint8_t> bytes, long long maxCells) {
    FileScan file;
    if (auto refused = ScanChunks(bytes, file)) return Refuse(std::move(*refused));

    // The grid: steps per beat, and whether every onset lies on a step.
    Grid grid;
    grid.D = file.division;
    grid.N = grid.D <= 255 ? grid.D : ChooseGrid(file);
    for (std::size_t r = 0; r < file.onsetPlaces.size(); ++r)
        grid.exact = grid.exact && (file.onsetPlaces[r] == 0 || static_cast<long long>(r) * grid.N % grid.D == 0);

    // A track's first onset lies on the step nearest its tick; no onset on step 0 shifts the song.
    bool onsetAtZero = false;
    for (const TrackScan& track : file.tracks) onsetAtZero = onsetAtZero || (track.firstOnset >= 0 && grid.Nearest(track.firstOnset) == 0);
    const long long shift = onsetAtZero ? 0 : 1;

    // The length every event asks for; onsets moved up by rounding may add to it while building.
    long long length = 0;
    for (const TrackScan& track : file.tracks) {
        if (track.lastOnset >= 0) length = std::max(length, grid.Nearest(track.lastOnset) - shift + 1);
        if (track.lastRelease >= 0) length = std::max(length, grid.Nearest(track.lastRelease) - shift);
        length = std::max(length, grid.Nearest(track.lastTick) - shift);
    }
    const auto refuseLength = [&] {
        return Refuse({QCoreApplication::translate("MidiFiles", "the song would be %1 steps long, more than this program can hold").arg(length),
                       file.farthestOffset});
    };
    const auto trackCount = file.tracks.size();
    if (length > kMaxSongSteps || length * static_cast<long long>(trackCount) > maxCells) return refuseLength();

    ImportResult result;
    result.timing.errorUnit = grid.D * grid.N;
    SongData& song = result.song.emplace();
    song.NotesPerBeat = static_cast<int>(grid.N);
    if (file.tempoUs == 0)
        song.Tempo = 240;
    else if (file.tempoUs > 0)
        song.Tempo = static_cast<int>(std::clamp((60'000'000LL + file.tempoUs / 2) / file.tempoUs, 30LL, 240LL));
    song.ChannelPatch = file.patch;
    song.PatchSet = file.patchSet;
    song.Tracks.resize(trackCount);
    std::vector<long long> pendingBreaks(trackCount, -1);
    for (std::size_t t = 0; t < trackCount; ++t) {
        const TrackScan& scan = file.tracks[t];
        SongTrack& track = song.Tracks[t];
        track.Channel = static_cast<std::uint8_t>(scan.noteOnChannel >= 0 ? scan.noteOnChannel
                                                  : scan.anyChannel >= 0  ? scan.anyChannel
                                                                          : 0);
        track.Steps.resize(static_cast<std::size_t>(length));
        if (scan.chunk.end <= scan.chunk.start) continue;  // no chunk, or an empty one
        Builder builder{grid, shift, track.Steps, result.timing, length, trackCount, maxCells};
        std::uint8_t running = scan.chunk.running;
        (void)WalkTrack(bytes, scan.chunk.start, scan.chunk.end, running, builder);  // refused in the first pass if at all
        if (builder.tooLong) return refuseLength();
        pendingBreaks[t] = builder.pendingBreak;
    }
    song.NumSteps = static_cast<int>(length);
    for (std::size_t t = 0; t < trackCount; ++t) {
        SongSteps& steps = song.Tracks[t].Steps;
        steps.resize(static_cast<std::size_t>(length));
        const long long s = pendingBreaks[t];
        if (s >= 0 && s < length && steps[static_cast<std::size_t>(s)].StepType == StepEmpty)
            steps[static_cast<std::size_t>(s)].StepType = StepBreak;
    }
    return result;
}

ImportResult ReadMIDIFile(const QString& sFileName) {
    FileStream in;
    in.flags(QStringLiteral("r"));
    if (!in.OpenFile(sFileName, false))
        return Refuse({QCoreApplication::translate("MidiFiles", "the file could not be opened: %1").arg(in.ErrorString()), -1});
    const std::int64_t length = in.GetLength();
    if (length == 0) return Refuse({QCoreApplication::translate("MidiFiles", "the file is empty, so it is not a Standard MIDI File"), 0});
    // The header first: a file that is not a song is refused without reading the rest of it.
    std::vector<std::uint8_t> bytes;
    in.ReadByteArray(bytes, static_cast<std::int32_t>(std::min<std::int64_t>(length, kHeaderBytes)));
    if (auto refused = CheckHeader(bytes)) return Refuse(std::move(*refused));
    if (length > kMaxMIDIFileBytes)
        return Refuse({QCoreApplication::translate("MidiFiles", "the file is %1 MiB long; songs larger than %2 MiB are not opened")
                           .arg(length >> 20)
                           .arg(kMaxMIDIFileBytes >> 20),
                       -1});
    try {
        in.SetPosition(0);
        if (!in.ReadByteArray(bytes, static_cast<std::int32_t>(length)))
            return Refuse({QCoreApplication::translate("MidiFiles", "the file could not be read: %1").arg(in.ErrorString()), -1});
        return ParseMIDIFile(bytes);
    } catch (const std::bad_alloc&) {
        return Refuse({QCoreApplication::translate("MidiFiles", "there is not enough memory to open it"), -1});
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
