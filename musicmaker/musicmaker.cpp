#include "musicmaker/musicmaker.h"

#include "musicmaker/songops.h"

#include <QCoreApplication>
#include <QPointer>

#include <algorithm>
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
        g_lCurStep = m_bLoop ? LoopSteps().first : 0;
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

void MusicMaker::SetLoop(bool on) {
    if (on == m_bLoop) return;
    m_bLoop = on;
    emit loopChanged(on);
}

std::pair<int, int> MusicMaker::LoopSteps() const {
    const int end = std::clamp(m_loopRange.second, 0, std::max(g_lNumSteps, 0));
    return {std::clamp(m_loopRange.first, 0, end), end};
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
    DropMissedPasses();
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

void MusicMaker::DropMissedPasses() {
    if (!m_bPlay || !m_bLoop) return;
    const auto [first, end] = LoopSteps();
    const long long pass = end - first;
    if (pass < 1 || g_lCurStep < first || g_lCurStep > end) return;
    const double late = m_clock->NowMs() - (m_startMs + static_cast<double>(m_nextStep) * m_lInterval);
    if (late < 0) return;
    // The passes are alike, so skipping whole ones sends nothing and leaves the same notes sounding;
    // what is left (one step at least) is played late as usual.
    const long long due = static_cast<long long>(late / m_lInterval) + 1;
    m_nextStep += (due - 1) / pass * pass;
}

void MusicMaker::PlayTrackSteps(int track, int first, int end, bool releaseAtEnd) {
    const auto t = static_cast<std::size_t>(track);
    int last = t < g_lLastStep.size() ? g_lLastStep[t] : -1;
    // Gathered before any is played: with Record checked during playback, PlayNote records, and
    // recording may grow the song and move the steps read here.
    m_changes.clear();
    AppendNoteChanges(g_Tracks[t], g_lNumSteps, first, end, releaseAtEnd, last, m_changes);
    const int channel = g_Tracks[t].Channel;
    for (const NoteChange& c : m_changes) {
        if (c.start) PlayNote(c.note, 100, channel);
        else StopNote(c.note, channel);
    }
    // After the release at the end nothing of the track sounds: the next notes step stops nothing.
    if (t < g_lLastStep.size()) g_lLastStep[t] = releaseAtEnd ? -1 : last;
}

void MusicMaker::PlayStep() {
    const auto [first, end] = LoopSteps();
    if (m_bLoop && g_lCurStep >= end && first < end) {
        // The wrap: what sounds is released as the next notes step would release it, and that
        // step follows in this same tick, so the pass boundary takes no time of its own.
        for (int t = 0; t < g_lNumTracks && t < static_cast<int>(g_Tracks.size()); ++t) {
            if (TrackPlays(t)) PlayTrackSteps(t, g_lCurStep, g_lCurStep, true);
        }
        g_lCurStep = first;
    } else if (g_lCurStep >= (m_bLoop ? end : g_lNumSteps)) {
        m_lSoloTrack = -1;
        SetPlay(false);
        return;
    }
    const int step = g_lCurStep;
    for (int t = 0; t < g_lNumTracks && t < static_cast<int>(g_Tracks.size()); ++t) {
        if (TrackPlays(t)) PlayTrackSteps(t, step, step + 1, false);
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
