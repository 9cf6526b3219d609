// The MIDI file reader on arbitrary bytes: it must give a song or a reason, never crash, and any
// song it gives must keep the song model's limits and survive being written and read again.
#include "formats/smf_export.h"
#include "formats/smf_import.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kivra;
    // Small songs only: the size limit itself is tested elsewhere, and huge songs would make
    // every run slow without reaching new code.
    const ImportResult r = ParseMIDIFile(std::span(data, size), 1 << 16);
    if (!r.Accepted()) {
        if (r.reason.isEmpty() || r.offset > static_cast<long long>(size)) std::abort();
        return 0;
    }
    const SongData& song = *r.song;
    if (song.NotesPerBeat < 1 || song.NotesPerBeat > 255 || song.Tempo < 30 || song.Tempo > 240) std::abort();
    if (song.Tracks.empty() || song.Tracks.size() > 32 || song.NumSteps < 0) std::abort();
    for (const SongTrack& track : song.Tracks) {
        if (track.Channel > 15 || track.Steps.size() != static_cast<std::size_t>(song.NumSteps)) std::abort();
        for (const SongStep& step : track.Steps) {
            if (step.StepType > StepBreak || step.NoteCount != step.Notes.size()) std::abort();
            if ((step.StepType == StepNotes) != (step.NoteCount > 0)) std::abort();
            for (std::uint8_t note : step.Notes)
                if (note > 127) std::abort();
        }
    }
    if (song.NumSteps <= 4096) {
        std::vector<int> lastStep;
        const std::vector<std::uint8_t> again = EncodeMIDIFile(SourceOf(song), lastStep);
        if (!ParseMIDIFile(again).Accepted()) std::abort();
    }
    return 0;
}
