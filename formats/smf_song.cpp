#include "formats/smf_song.h"

#include <algorithm>
#include <utility>

namespace kivra {

SongSource SourceOf(const SongData& song) {
    return SongSource{song.Tracks, song.NumSteps, song.Tempo, song.NotesPerBeat, song.ChannelPatch};
}

SongSource CurrentSong() {
    const auto count = static_cast<std::size_t>(std::clamp<long long>(g_lNumTracks, 0, static_cast<long long>(g_Tracks.size())));
    return SongSource{std::span<const SongTrack>(g_Tracks.data(), count), std::max(g_lNumSteps, 0), g_lTempo,
                      g_lNotesPerBeat, g_bytChannelPatch};
}

void ApplySong(SongData&& song) {
    g_Tracks = std::move(song.Tracks);
    g_lNumTracks = static_cast<int>(g_Tracks.size());
    g_lNumSteps = song.NumSteps;
    g_lTempo = song.Tempo;
    g_lNotesPerBeat = song.NotesPerBeat;
    for (int c = 0; c < 16; ++c)
        if (song.PatchSet & (1u << c)) g_bytChannelPatch[static_cast<std::size_t>(c)] = song.ChannelPatch[static_cast<std::size_t>(c)];
    g_lCurStep = 0;
    g_lCurTrack = 0;
    g_lLastStep.assign(g_Tracks.size(), 0);
    g_bSongChanged = false;
}

}  // namespace kivra
