#pragma once
// The Music Maker's state besides the song: the Record and Play switches, the solo track and the
// playback schedule. The window mirrors this state and forwards its events here. UI thread only.

#include "midi/midiio.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

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

class MusicMaker : public QObject, public RecorderPort {
    Q_OBJECT
public:
    explicit MusicMaker(QObject* parent = nullptr);
    ~MusicMaker() override;

    // RecorderPort: what the note entry points ask while routing a note.
    bool RecordChecked() const override { return m_bRecord; }
    int CurrentTrackChannel() const override;
    void RecordNote(int note) override;

    // Record on locks the piano's settings controls and shows the track's instrument there.
    void SetRecord(bool on);

    bool PlayChecked() const { return m_bPlay; }
    // Play on: Record off, cursor to 0, programs sent, first step one interval later.
    // Play off: all 2048 notes stopped, timer stopped; the cursor stays.
    void SetPlay(bool on);
    // Plays `track` alone (the track buttons); an index naming no track is ignored.
    void PlayTrackAlone(int track);
    int SoloTrack() const { return m_lSoloTrack; }
    void SetSoloTrack(int track) { m_lSoloTrack = track; }

    // The interval fixed at the last start of Play, in milliseconds.
    int RunningInterval() const { return m_lInterval; }

    // Plays every step that has fallen due by the clock's time (the timer's handler; tests call
    // it by hand after moving a fake clock). Steps due while the thread was busy are played late.
    void OnTimer();

    // Replaces the clock (tests); null restores the steady clock.
    void SetClock(std::unique_ptr<Clock> clock);
    // While a fake clock is set the timer is not armed, so only OnTimer plays steps.
    bool UsingFakeClock() const { return m_bFakeClock; }
    // Called for every step played: its number since Play started (1 = first), its due time and
    // the time it was played, both in clock milliseconds.
    void SetStepObserver(std::function<void(long long step, double dueMs, double playedMs)> observer) {
        m_observer = std::move(observer);
    }

signals:
    void recordChanged(bool on);
    void playChanged(bool on);

private:
    void PlayStep();
    void StopTrackNotes(int track);
    void ArmTimer();

    bool m_bRecord = false;
    bool m_bPlay = false;
    int m_lSoloTrack = -1;
    int m_lInterval = 125;
    double m_startMs = 0;
    long long m_nextStep = 1;  // the step number whose due time is start + m_nextStep x interval
    QTimer m_timer;
    std::unique_ptr<Clock> m_clock;
    bool m_bFakeClock = false;
    std::function<void(long long, double, double)> m_observer;
};

// The one Music Maker of the run, created on first use with a new song and registered as the
// note routing's recorder. Parented to the application object, so it goes with it.
MusicMaker& TheMusicMaker();
// Called at start-up so the recorder exists before the first note.
void InstallMusicMaker();

}  // namespace kivra
