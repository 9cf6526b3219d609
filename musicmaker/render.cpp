#include "musicmaker/render.h"

#include "formats/smf_import.h"
#include "midi/backends/fluidsynth/fluidsynth_backend.h"
#include "midi/message.h"
#include "musicmaker/notespans.h"
#include "musicmaker/songops.h"

#include <fluidsynth.h>
#include <sndfile.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace kivra {

namespace {

// Frames rendered between two looks at the cancel flag and the progress: about 23 ms at 44.1 kHz,
// small enough that the tail ends close to where the sound dies away.
constexpr int kBlockFrames = 1024;

struct TimedMessage {
    long long frame;
    std::uint32_t packed;
};

// Every note start and release of the song, on the frame of its step at playback's interval (step
// s sounds s intervals after the first), ordered as playback sends them: step by step, and within
// a step track by track.
std::vector<TimedMessage> SongMessages(const SongSource& song, int sampleRate, long long& songFrames) {
    const long long interval = PlayInterval(song.NotesPerBeat, song.Tempo);
    auto frameOf = [&](int step) { return static_cast<long long>(step) * interval * sampleRate / 1000; };
    songFrames = frameOf(song.NumSteps);
    std::vector<TimedMessage> messages;
    std::vector<NoteChange> changes;
    for (const SongTrack& track : song.Tracks) {
        changes.clear();
        int lastStep = -1;
        AppendNoteChanges(track, song.NumSteps, 0, song.NumSteps, true, lastStep, changes);
        const int channel = track.Channel & 0x0F;
        for (const NoteChange& c : changes)
            if (c.note < 128)
                messages.push_back({frameOf(c.step), PackShortMessage(kNoteOnStatus + channel, c.note, c.velocity)});
    }
    std::stable_sort(messages.begin(), messages.end(),
                     [](const TimedMessage& a, const TimedMessage& b) { return a.frame < b.frame; });
    return messages;
}

// libsndfile writing through a QSaveFile, which gives the temporary file and the rename.
sf_count_t DeviceLength(void* device) { return static_cast<QSaveFile*>(device)->size(); }
sf_count_t DeviceSeek(sf_count_t offset, int whence, void* device) {
    auto* file = static_cast<QSaveFile*>(device);
    const sf_count_t base = whence == SEEK_CUR ? file->pos() : whence == SEEK_END ? file->size() : 0;
    return file->seek(base + offset) ? file->pos() : -1;
}
sf_count_t DeviceRead(void* buffer, sf_count_t count, void* device) {
    return static_cast<QSaveFile*>(device)->read(static_cast<char*>(buffer), count);
}
// Writes on after a short write, so that a full disk ends in a failed write that says why.
sf_count_t DeviceWrite(const void* buffer, sf_count_t count, void* device) {
    sf_count_t done = 0;
    while (done < count) {
        const qint64 n = static_cast<QSaveFile*>(device)->write(static_cast<const char*>(buffer) + done, count - done);
        if (n <= 0) break;
        done += n;
    }
    return done;
}
sf_count_t DeviceTell(void* device) { return static_cast<QSaveFile*>(device)->pos(); }

int SndFileFormat(AudioFormat format) {
    switch (format) {
        case AudioFormat::Wav16: return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        case AudioFormat::Wav24: return SF_FORMAT_WAV | SF_FORMAT_PCM_24;
        case AudioFormat::Flac: return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    }
    return 0;
}

struct SndFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

RenderResult Failed(const QString& text) { return {false, false, text, 0, 0}; }

}  // namespace

std::optional<AudioFormat> AudioFormatOf(const QString& path, AudioFormat wavFormat) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("flac")) return AudioFormat::Flac;
    if (suffix == QLatin1String("wav")) return wavFormat == AudioFormat::Wav24 ? AudioFormat::Wav24 : AudioFormat::Wav16;
    return std::nullopt;
}

RenderResult RenderSong(const SongSource& song, const QString& path, const RenderSettings& settings,
                        const std::function<void(double)>& progress, const std::atomic<bool>* cancel) {
    const std::string soundFont = settings.sound.soundFont.empty() ? FindGmSoundFont() : settings.sound.soundFont;
    if (soundFont.empty())
        return Failed(QCoreApplication::translate("Render", "No General MIDI SoundFont was found to render %1 with. Install the package %2, "
                                     "or choose a SoundFont in the Sound window.")
                          .arg(path, QString::fromLatin1(kSoundFontPackage)));
    auto engine = std::make_unique<SoftSynth>(soundFont, settings.sampleRate);
    // As for playing: a chosen SoundFont that no longer loads gives way to the General MIDI one.
    if (const std::string gm = FindGmSoundFont(); !engine->Ready() && !gm.empty() && gm != soundFont)
        engine = std::make_unique<SoftSynth>(gm, settings.sampleRate);
    SoftSynth& synth = *engine;
    if (!synth.Ready())
        return Failed(QCoreApplication::translate("Render", "%1 was not written: %2.").arg(path, QString::fromStdString(synth.Error())));
    synth.ApplySound(settings.sound);
    // A channel's first message also gives it General MIDI's reverb send.
    for (int c = 0; c < 16; ++c)
        synth.Play(PackShortMessage(kProgramChangeStatus + c, song.ChannelPatch[static_cast<std::size_t>(c)] & 0x7F));

    RenderResult result;
    const std::vector<TimedMessage> messages = SongMessages(song, settings.sampleRate, result.songFrames);

    QSaveFile file(path);
    // Unbuffered: libsndfile buffers already, and a failed write then reports the system's reason.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return Failed(QCoreApplication::translate("Render", "%1 could not be created: %2.").arg(path, file.errorString()));
    SF_VIRTUAL_IO io{&DeviceLength, &DeviceSeek, &DeviceRead, &DeviceWrite, &DeviceTell};
    SF_INFO info{};
    info.samplerate = settings.sampleRate;
    info.channels = 2;
    info.format = SndFileFormat(settings.format);
    std::unique_ptr<SNDFILE, SndFileCloser> out(sf_open_virtual(&io, SFM_WRITE, &info, &file));
    if (!out) return Failed(QCoreApplication::translate("Render", "%1 could not be written: %2.").arg(path, QString::fromUtf8(sf_strerror(nullptr))));
    // Float samples beyond full scale are clipped, not wrapped round, when stored as integers.
    sf_command(out.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);

    std::vector<float> block(2 * kBlockFrames);
    const long long maxTail = static_cast<long long>(kMaxTailSeconds) * settings.sampleRate;
    const double expected = static_cast<double>(std::max(result.songFrames, 1LL));
    auto next = messages.begin();
    float peak = 1.0f;
    int reported = -1;  // the per mille last reported: progress is told only when it moves
    // Block by block: the song's messages at their frames, then the tail until it is quiet.
    while (result.frames < result.songFrames || (result.frames - result.songFrames < maxTail && peak >= kTailLevel)) {
        if (cancel && cancel->load(std::memory_order_relaxed)) return {false, true, {}, result.songFrames, 0};
        for (; next != messages.end() && next->frame <= result.frames; ++next) synth.Play(next->packed);
        long long end = result.frames + kBlockFrames;
        if (next != messages.end()) end = std::min(end, next->frame);
        else if (result.frames < result.songFrames) end = std::min(end, result.songFrames);
        else end = std::min(end, result.songFrames + maxTail);
        const int frames = static_cast<int>(end - result.frames);
        fluid_synth_write_float(synth.Engine(), frames, block.data(), 0, 2, block.data(), 1, 2);
        if (sf_writef_float(out.get(), block.data(), frames) != frames)
            return Failed(QCoreApplication::translate("Render", "%1 could not be written: %2.").arg(path, file.errorString()));
        result.frames = end;
        if (result.frames > result.songFrames) {
            peak = 0.0f;
            for (int i = 0; i < 2 * frames; ++i) peak = std::max(peak, std::abs(block[static_cast<std::size_t>(i)]));
        }
        const double done = std::min(1.0, static_cast<double>(result.frames) / expected);
        if (progress && static_cast<int>(done * 1000) != reported) {
            reported = static_cast<int>(done * 1000);
            progress(done);
        }
    }
    // Closing writes the header's lengths; only then is the file complete and put in place.
    const int closed = sf_close(out.release());
    if (closed != 0 || file.error() != QFileDevice::NoError || !file.commit())
        return Failed(QCoreApplication::translate("Render", "%1 could not be written: %2.").arg(path, file.errorString()));
    result.ok = true;
    return result;
}

int RenderSongFile(const QString& midiPath, const QString& audioPath, QTextStream& err) {
    const std::optional<AudioFormat> format = AudioFormatOf(audioPath);
    if (!format) {
        err << QCoreApplication::translate("Render", "kivra: %1: the audio file's name must end in .wav or .flac\n").arg(audioPath);
        return 1;
    }
    ImportResult song = ReadMIDIFile(midiPath);
    if (!song.Accepted()) {
        err << QCoreApplication::translate("Render", "kivra: %1 was not read: %2\n").arg(midiPath, song.Describe());
        return 1;
    }
    const RenderResult result = RenderSong(SourceOf(*song.song), audioPath, {LoadSoundOptions(), *format});
    if (!result.ok) err << "kivra: " << result.message << '\n';
    return result.ok ? 0 : 1;
}

}  // namespace kivra
