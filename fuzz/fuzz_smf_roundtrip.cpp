// The MIDI file writer and reader together: any song the reader gives, once written, must read back
// as the same song and be written again with the same bytes. Inputs are MIDI files, so the songs are
// those that files of any program give (chords up to 255 notes, breaks, 32 tracks, any grid, tempo).
#include "formats/smf_export.h"
#include "formats/smf_import.h"

#include <cstdlib>

namespace {

using namespace kivra;

std::vector<std::uint8_t> Encode(const SongData& song, std::vector<int> lastStep) {
    return EncodeMIDIFile(SourceOf(song), lastStep);
}

// What a file keeps of a song that came from a file: a break with no notes before it in its track
// writes nothing and comes back empty (the two play alike), and a song without notes has no length.
SongData Kept(SongData song) {
    bool anyNotes = false;
    for (SongTrack& track : song.Tracks) {
        bool sounded = false;
        for (SongStep& step : track.Steps) {
            sounded = sounded || step.StepType == StepNotes;
            if (step.StepType == StepBreak && !sounded) step.StepType = StepEmpty;
        }
        anyNotes = anyNotes || sounded;
    }
    if (!anyNotes) {
        song.NumSteps = 0;
        for (SongTrack& track : song.Tracks) track.Steps.clear();
    }
    return song;
}

bool Same(const SongData& a, const SongData& b) {
    if (a.NumSteps != b.NumSteps || a.Tempo != b.Tempo || a.NotesPerBeat != b.NotesPerBeat) return false;
    if (a.Tracks.size() != b.Tracks.size()) return false;
    for (std::size_t t = 0; t < a.Tracks.size(); ++t) {
        const SongTrack &x = a.Tracks[t], &y = b.Tracks[t];
        if (x.Channel != y.Channel || x.Steps.size() != y.Steps.size()) return false;
        if (a.ChannelPatch[x.Channel] != b.ChannelPatch[x.Channel]) return false;
        for (std::size_t s = 0; s < x.Steps.size(); ++s)
            if (x.Steps[s].StepType != y.Steps[s].StepType || x.Steps[s].Notes != y.Steps[s].Notes) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ImportResult first = ParseMIDIFile(std::span(data, size), 1 << 16);
    if (!first.Accepted()) return 0;
    const SongData song = Kept(*first.song);
    // As the program exports right after opening a file (every track's last step 0), and with no
    // notes left sounding from before.
    for (const int last : {0, -1}) {
        const std::vector<int> lastStep(song.Tracks.size(), last);
        const std::vector<std::uint8_t> written = Encode(*first.song, lastStep);
        const ImportResult again = ParseMIDIFile(written);
        if (!again.Accepted() || again.timing.moved != 0 || !Same(*again.song, song)) std::abort();
        if (Encode(*again.song, lastStep) != written) std::abort();
    }
    return 0;
}
