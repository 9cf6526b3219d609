#pragma once
// The song as sound: played through a private instance of the built-in synthesizer (no audio
// driver, as fast as the processor allows) and written with libsndfile to WAV or FLAC. The song
// is read through the same note spans as playback and the MIDI file writer, at playback's step
// interval, so a rendered song sounds as it plays. After the last step the file goes on until the
// sound has died away (kTailLevel), kMaxTailSeconds at most.
//
// The file is replaced atomically: written to a temporary file beside it and renamed over it only
// when complete, so a cancelled or failed render leaves no partial file and any old file whole.
// Nothing here shows or prints anything (RenderSongFile prints to the stream it is given).

#include "midi/sound.h"
#include "musicmaker/songdata.h"

#include <QString>

#include <atomic>
#include <functional>
#include <optional>

class QTextStream;

namespace kivra {

enum class AudioFormat { Wav16, Wav24, Flac };

// The format a file name asks for by its extension: ".flac" is FLAC (16 bit), ".wav" is WAV of
// `wavFormat`'s depth (16 bit unless Wav24); nullopt for any other name.
std::optional<AudioFormat> AudioFormatOf(const QString& path, AudioFormat wavFormat = AudioFormat::Wav16);

struct RenderSettings {
    // Volume, reverb, chorus and the SoundFont: empty, or one that does not load, is the system's
    // General MIDI one.
    SoundOptions sound;
    AudioFormat format = AudioFormat::Wav16;
    int sampleRate = 44100;
};

struct RenderResult {
    bool ok = false;
    bool cancelled = false;    // the cancel flag stopped it; nothing was written
    QString message;           // when neither ok nor cancelled: what failed, naming the file
    long long songFrames = 0;  // the song's own length, in frames: its steps at playback's interval
    long long frames = 0;      // written: the song and its tail
};

// The release tail ends with the first block whose peak stays below this (-60 dBFS).
inline constexpr float kTailLevel = 0.001f;
inline constexpr int kMaxTailSeconds = 5;

// Renders `song` to `path`. `progress` (optional) gets the fraction done, 0..1, now and then;
// `cancel` (optional) is read between blocks. Both run on the calling thread, which may be any.
RenderResult RenderSong(const SongSource& song, const QString& path, const RenderSettings& settings,
                        const std::function<void(double)>& progress = {}, const std::atomic<bool>* cancel = nullptr);

// The command line's render: reads the Standard MIDI File `midiPath` (as Import MIDI does, the
// program's song untouched) and renders it to `audioPath`, whose extension chooses WAV (16 bit) or
// FLAC, with the "[Sound]" settings. No display needed. 0 when written; otherwise 1 and why on `err`.
int RenderSongFile(const QString& midiPath, const QString& audioPath, QTextStream& err);

inline constexpr const char* kExportAudioTitle = QT_TRANSLATE_NOOP("MidiFiles", "Export Audio");

}  // namespace kivra
