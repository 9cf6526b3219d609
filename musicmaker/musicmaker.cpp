#include "musicmaker/musicmaker.h"

#include "musicmaker/songops.h"

#include <QCoreApplication>
#include <QPointer>

#include <array>
#include <chrono>
#include <cmath>

namespace kivra {

double SteadyClock::NowMs() const {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

MusicMaker::MusicMaker(QObject* parent) : QObject(parent), m_clock(std::make_unique<SteadyClock>()) {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &MusicMaker::OnTimer);
    SetRecorderPort(this);
}

MusicMaker::~MusicMaker() {
    if (GetRecorderPort() == this) SetRecorderPort(nullptr);
}

int MusicMaker::CurrentTrackChannel() const {
    if (g_lCurTrack < 0 || g_lCurTrack >= static_cast<int>(g_Tracks.size())) return 0;
    return g_Tracks[static_cast<std::size_t>(g_lCurTrack)].Channel;
}

void MusicMaker::RecordNote(int note) { kivra::RecordNote(note); }

void MusicMaker::SetRecord(bool on) {
    if (on == m_bRecord) return;
    m_bRecord = on;
    if (PianoPort* piano = GetPianoPort()) {
        piano->SetRecordingLock(on);
        if (on) piano->UpdateInstrument(g_bytChannelPatch[static_cast<std::size_t>(CurrentTrackChannel() & 15)]);
    }
    emit recordChanged(on);
}

void MusicMaker::SetPlay(bool on) {
    if (on == m_bPlay) return;
    m_bPlay = on;
    if (on) {
        SetRecord(false);
        g_lCurStep = 0;
        if (m_lSoloTrack >= g_lNumTracks) m_lSoloTrack = -1;  // the track went away since
        if (m_lSoloTrack < 0) {
            for (int c = 0; c < 16; ++c) SetPatch(g_bytChannelPatch[static_cast<std::size_t>(c)], c);
        } else {
            const int c = g_Tracks[static_cast<std::size_t>(m_lSoloTrack)].Channel & 15;
            SetPatch(g_bytChannelPatch[static_cast<std::size_t>(c)], c);
        }
        m_lInterval = PlayInterval(g_lNotesPerBeat, g_lTempo);
        m_startMs = m_clock->NowMs();
        m_nextStep = 1;
        ArmTimer();
    } else {
        m_timer.stop();
        for (int c = 0; c < 16; ++c) {
            for (int n = 0; n < 128; ++n) StopNote(n, c);
        }
    }
    emit playChanged(on);
}

void MusicMaker::PlayTrackAlone(int track) {
    if (track < 0 || track >= g_lNumTracks) return;
    m_lSoloTrack = track;
    SetPlay(true);
}

void MusicMaker::SetClock(std::unique_ptr<Clock> clock) {
    m_bFakeClock = static_cast<bool>(clock);
    m_clock = clock ? std::move(clock) : std::make_unique<SteadyClock>();
    m_timer.stop();
    if (m_bPlay && !m_bFakeClock) ArmTimer();
}

void MusicMaker::ArmTimer() {
    if (!m_bPlay || m_bFakeClock) return;
    const double due = m_startMs + static_cast<double>(m_nextStep) * m_lInterval;
    // Armed on the whole millisecond at or before the deadline: a wake-up that comes early is
    // re-armed with 0 until the deadline, so a step is never early and at most a wake-up late.
    const double wait = std::floor(due - m_clock->NowMs());
    m_timer.start(wait > 0 ? static_cast<int>(wait) : 0);
}

void MusicMaker::OnTimer() {
    // Every deadline is counted from the start, so lateness of one step never shifts the next.
    while (m_bPlay) {
        const double due = m_startMs + static_cast<double>(m_nextStep) * m_lInterval;
        const double now = m_clock->NowMs();
        if (now < due) break;
        if (m_observer) m_observer(m_nextStep, due, now);
        ++m_nextStep;
        PlayStep();
    }
    ArmTimer();
}

void MusicMaker::StopTrackNotes(int track) {
    const auto t = static_cast<std::size_t>(track);
    if (t >= g_lLastStep.size()) return;
    // An entry left beyond the song (shortened or imported since) names no notes to stop.
    const SongStep* last = StepAt(track, g_lLastStep[t]);
    if (!last) return;
    const int channel = g_Tracks[t].Channel;
    std::array<std::uint8_t, 255> notes{};
    const std::size_t count = std::min<std::size_t>(last->NoteCount, last->Notes.size());
    std::copy_n(last->Notes.begin(), count, notes.begin());
    for (std::size_t k = 0; k < count; ++k) StopNote(notes[k], channel);
}

void MusicMaker::PlayStep() {
    if (g_lCurStep >= g_lNumSteps) {
        m_lSoloTrack = -1;
        SetPlay(false);
        return;
    }
    const int step = g_lCurStep;
    for (int t = 0; t < g_lNumTracks && t < static_cast<int>(g_Tracks.size()); ++t) {
        if (m_lSoloTrack >= 0 && t != m_lSoloTrack) continue;
        const SongStep* s = StepAt(t, step);
        if (!s) continue;
        if (s->StepType == StepNotes) {
            // Copied first: with Record checked during playback, PlayNote records, and recording
            // may grow the song and move the step this loop reads.
            std::array<std::uint8_t, 255> notes{};
            const std::size_t count = std::min<std::size_t>(s->NoteCount, s->Notes.size());
            std::copy_n(s->Notes.begin(), count, notes.begin());
            const int channel = g_Tracks[static_cast<std::size_t>(t)].Channel;
            StopTrackNotes(t);
            for (std::size_t k = 0; k < count; ++k) {
                PlayNote(notes[k], 100, channel);
                if (static_cast<std::size_t>(t) < g_lLastStep.size()) g_lLastStep[static_cast<std::size_t>(t)] = step;
            }
        } else if (s->StepType == StepBreak) {
            StopTrackNotes(t);
        }
    }
    ++g_lCurStep;
}

MusicMaker& TheMusicMaker() {
    static QPointer<MusicMaker> instance;
    if (!instance) {
        if (g_lNumTracks < 1) NewSong();
        instance = new MusicMaker(QCoreApplication::instance());
    }
    return *instance;
}

void InstallMusicMaker() { TheMusicMaker(); }

}  // namespace kivra
