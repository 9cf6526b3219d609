#pragma once
// The Music Maker's state besides the song: the Record, Play and Loop switches, the solo track,
// the loop range and the playback schedule. The window mirrors this state and forwards its events
// here. The steps are planned and their notes shown on the UI thread; on the real clock they go
// out from a thread of their own (StepSender), so that a busy UI thread cannot make them late.

#include "midi/midiio.h"
#include "musicmaker/notespans.h"
#include "musicmaker/songops.h"
#include "musicmaker/stepsender.h"

#include <QObject>
#include <QTimer>

#include <climits>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace kivra {

// A steady clock in milliseconds (fractions allowed); tests drive a fake one by hand.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double NowMs() const = 0;
};

// std::chrono::steady_clock.
class SteadyClock : public Clock {
public:
    double NowMs() const override;
};

// A start agreed with other pianos (the band room): the first step falls due one interval after
// `atMs` (steady clock, milliseconds; a time already past starts now), at `tempo`, with every track
// on `channel`, the piano's link channel, so that the parts of the band never take each other's
// notes or instruments.
struct SharedStart {
    double atMs = 0;
    int tempo = 120;
    int channel = 0;
};

// The band room's part in the transport: told of Play and Stop pressed here. None by default.
class TransportShare {
public:
    virtual ~TransportShare() = default;
    // Play pressed here at the song's `tempo`: the start agreed with the band (who has been told),
    // or none when this piano plays alone.
    virtual std::optional<SharedStart> PlayPressed(int tempo) = 0;
    // Stop pressed here; the end of the song is no Stop.
    virtual void StopPressed() = 0;
};

class MusicMaker : public QObject, public RecorderPort, public SongView {
    Q_OBJECT
public:
    explicit MusicMaker(QObject* parent = nullptr);
    ~MusicMaker() override;

    // RecorderPort: what the note entry points ask while routing a note.
    bool RecordChecked() const override { return record_; }
    int CurrentTrackChannel() const override;
    void RecordNote(int note, int velocity) override;

    // Record on locks the piano's settings controls and shows the track's instrument there.
    void SetRecord(bool on);

    bool PlayChecked() const { return play_; }
    // Play on: Record off, cursor to 0 (with Loop on, to the loop's first step), programs sent,
    // first step one interval later.
    // Play off: all 2048 notes stopped, timer stopped; the cursor stays.
    void SetPlay(bool on);
    // The band room: Play and Stop pressed here (SetPlay) are shared through `share` (null: none).
    void SetTransportShare(TransportShare* share) { share_ = share; }
    TransportShare* GetTransportShare() const { return share_; }
    // Play and Stop pressed at another piano of the band. A start finds a piano whose Record box is
    // checked recording its own part while the others play: it goes on recording, its song silent.
    void StartShared(const SharedStart& start);
    void StopShared();

    // Plays `track` alone (the track buttons); an index naming no track is ignored.
    void PlayTrackAlone(int track);
    int SoloTrack() const { return m_lSoloTrack; }
    void SetSoloTrack(int track);

    // Loop on: at the end of the loop range playback goes on with its first step instead of
    // stopping, on the same schedule (the first step of the next pass one interval after the last
    // of this one). The notes sounding at the wrap are released first, as a following notes step
    // would. Off at start; the window's Loop box mirrors it.
    bool LoopChecked() const { return loop_; }
    void SetLoop(bool on);
    // The steps Loop plays, [first, end); kSongEnd as the end reaches the end of the song however
    // long it grows. Clamped to the song when played; a range with no step in the song stops
    // playback at the wrap as the end of the song would. Default: the whole song.
    static constexpr int kSongEnd = INT_MAX;
    void SetLoopRange(int first, int end) { loopRange_ = {first, end}; }
    std::pair<int, int> LoopRange() const { return loopRange_; }

    // The interval fixed at the last start of Play, in milliseconds.
    int RunningInterval() const { return interval_; }

    // Plays every step that has fallen due by the clock's time (the timer's handler; tests call
    // it by hand after moving a fake clock). Steps due while the thread was busy are played late;
    // a loop drops the whole passes it missed. The timer plays the steps on the UI thread while a
    // fake clock is set or Record is checked: each note recorded then moves the cursor that the
    // next step reads, so the steps cannot be planned ahead.
    void OnTimer();

    // Replaces the clock (tests); null restores the steady clock.
    void SetClock(std::unique_ptr<Clock> clock);
    // While a fake clock is set the timer is not armed, so only OnTimer plays steps.
    bool UsingFakeClock() const { return fakeClock_; }
    // Called for every step played: its number since Play started (1 = first), its due time and
    // the time it was played, both in clock milliseconds. From the sender's thread's steps, called
    // on the UI thread when it takes them back.
    void SetStepObserver(std::function<void(long long step, double dueMs, double playedMs)> observer) {
        observer_ = std::move(observer);
    }

    // SongView: an edit during playback is heard from the next step not yet played.
    void SongChanged(const SongChange& change) override;

signals:
    void recordChanged(bool on);
    void playChanged(bool on);
    void loopChanged(bool on);

private:
    using NoteSink = std::function<void(const NoteChange&, int channel)>;
    // Play on or off; `shared`: a start agreed with the band.
    void Switch(bool on, const std::optional<SharedStart>& shared);
    int TrackChannel(std::size_t track) const { return bandChannel_ >= 0 ? bandChannel_ : g_Tracks[track].Channel; }
    void PlayStep();
    // One step of the schedule from `cursor` with the tracks' `lastStep`, both moved on: the note
    // starts and releases go to `sink`, in the order they sound. False when the song is over there
    // (nothing played).
    bool StepThrough(int& cursor, std::vector<int>& lastStep, const NoteSink& sink);
    // The note starts and releases of a track from step `first` up to `end` (releaseAtEnd: and
    // the release of what still sounds there).
    void TrackSteps(int track, int first, int end, bool releaseAtEnd, std::vector<int>& lastStep, const NoteSink& sink);
    bool TrackPlays(int track) const { return m_lSoloTrack < 0 || track == m_lSoloTrack; }
    // After a long stall (a machine waking from sleep) a loop would replay every pass it missed in
    // one burst of notes: whole passes are dropped instead, and the beat stays on the schedule.
    void DropMissedPasses(long long& nextStep, int cursor) const;
    double DueMs(long long step) const { return startMs_ + static_cast<double>(step) * interval_; }
    // The loop range as it falls in the song now.
    std::pair<int, int> LoopSteps() const;
    void ArmTimer();

    // The steps go out from the sender's thread, planned from where playback stands.
    void StartSender();
    // Takes back what the sender played and ends it; true when the song ended meanwhile.
    bool StopSender();
    // Plans steps up to kPlanAheadMs ahead (two at least).
    void PlanAhead();
    // Drops what is planned and plans again from the last step played (solo, Loop or an edit
    // changed what follows); `parts` are the song's parts the edit changed.
    void Replan(unsigned parts);
    // The played steps back on the UI thread: keys, the record of what sounds, the link, the
    // transport. True when the song ended there.
    bool TakePlayed();
    void OnPlayed();
    void Ended();

    // How far ahead the steps are planned: longer than any stall of the UI thread that playback
    // must ride out, short enough that the plan is cheap to redo after an edit.
    static constexpr double kPlanAheadMs = 1000;
    std::unique_ptr<StepSender> sender_;  // while the sender's thread plays
    Transport plan_;                      // where playback stands after the last step planned
    long long planStep_ = 1;              // the number of the next step to plan
    bool planEnded_ = false;              // the end of the song is planned

    bool record_ = false;
    bool play_ = false;
    bool loop_ = false;
    std::pair<int, int> loopRange_{0, kSongEnd};
    std::vector<NoteChange> changes_;  // reused from step to step
    int m_lSoloTrack = -1;
    TransportShare* share_ = nullptr;
    int bandChannel_ = -1;  // every track's channel during a shared start
    int interval_ = 125;
    double startMs_ = 0;
    long long nextStep_ = 1;  // the step number whose due time is start + nextStep_ x interval
    QTimer timer_;
    std::unique_ptr<Clock> clock_;
    bool fakeClock_ = false;
    std::function<void(long long, double, double)> observer_;
};

// The one Music Maker of the run, created on first use with a new song and registered as the
// note routing's recorder. Parented to the application object, so it goes with it.
MusicMaker& TheMusicMaker();
// Called at start-up so the recorder exists before the first note.
void InstallMusicMaker();

}  // namespace kivra
