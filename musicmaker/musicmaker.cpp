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
    AddSongView(this);
}

MusicMaker::~MusicMaker() {
    m_sender.reset();
    RemoveSongView(this);
    if (GetRecorderPort() == this) SetRecorderPort(nullptr);
}

int MusicMaker::CurrentTrackChannel() const {
    if (g_lCurTrack < 0 || g_lCurTrack >= static_cast<int>(g_Tracks.size())) return 0;
    return g_Tracks[static_cast<std::size_t>(g_lCurTrack)].Channel;
}

void MusicMaker::RecordNote(int note) { kivra::RecordNote(note); }

void MusicMaker::SetRecord(bool on) {
    if (on == m_bRecord) return;
    // The notes played while recording are recorded: the sender stops before the first of them.
    const bool ended = on && StopSender();
    m_bRecord = on;
    if (PianoPort* piano = GetPianoPort()) {
        piano->SetRecordingLock(on);
        if (on) piano->UpdateInstrument(g_bytChannelPatch[static_cast<std::size_t>(CurrentTrackChannel() & 15)]);
    }
    emit recordChanged(on);
    if (ended) Ended();
    else if (m_bPlay && !on && !m_bFakeClock) StartSender();
    else if (m_bPlay) ArmTimer();
}

void MusicMaker::SetPlay(bool on) {
    if (on == m_bPlay) return;
    if (on) SetRecord(false);
    m_bPlay = on;
    if (on) {
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
        if (m_bFakeClock) ArmTimer();
        else StartSender();
    } else {
        if (StopSender()) m_lSoloTrack = -1;  // the end came before the hand
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
    if (m_sender) Replan(0);
    emit loopChanged(on);
}

std::pair<int, int> MusicMaker::LoopSteps() const {
    const int end = std::clamp(m_loopRange.second, 0, std::max(g_lNumSteps, 0));
    return {std::clamp(m_loopRange.first, 0, end), end};
}

void MusicMaker::PlayTrackAlone(int track) {
    if (track < 0 || track >= g_lNumTracks) return;
    SetSoloTrack(track);
    SetPlay(true);
}

void MusicMaker::SetSoloTrack(int track) {
    m_lSoloTrack = track;
    if (m_sender) Replan(0);
}

void MusicMaker::SetClock(std::unique_ptr<Clock> clock) {
    const bool ended = StopSender();
    m_bFakeClock = static_cast<bool>(clock);
    m_clock = clock ? std::move(clock) : std::make_unique<SteadyClock>();
    m_timer.stop();
    if (ended) Ended();
    else if (m_bPlay && !m_bFakeClock && !m_bRecord) StartSender();
    else ArmTimer();
}

void MusicMaker::ArmTimer() {
    if (!m_bPlay || m_bFakeClock || m_sender) return;
    const double due = DueMs(m_nextStep);
    // Armed on the whole millisecond at or before the deadline: a wake-up that comes early is
    // re-armed with 0 until the deadline, so a step is never early and at most a wake-up late.
    const double wait = std::floor(due - m_clock->NowMs());
    m_timer.start(wait > 0 ? static_cast<int>(wait) : 0);
}

void MusicMaker::OnTimer() {
    if (m_sender) return;
    DropMissedPasses(m_nextStep, g_lCurStep);
    // Every deadline is counted from the start, so lateness of one step never shifts the next.
    while (m_bPlay) {
        const double due = DueMs(m_nextStep);
        const double now = m_clock->NowMs();
        if (now < due) break;
        if (m_observer) m_observer(m_nextStep, due, now);
        ++m_nextStep;
        PlayStep();
    }
    ArmTimer();
}

void MusicMaker::DropMissedPasses(long long& nextStep, int cursor) const {
    if (!m_bPlay || !m_bLoop) return;
    const auto [first, end] = LoopSteps();
    const long long pass = end - first;
    if (pass < 1 || cursor < first || cursor > end) return;
    const double late = m_clock->NowMs() - DueMs(nextStep);
    if (late < 0) return;
    // The passes are alike, so skipping whole ones sends nothing and leaves the same notes sounding;
    // what is left (one step at least) is played late as usual.
    const long long due = static_cast<long long>(late / m_lInterval) + 1;
    nextStep += (due - 1) / pass * pass;
}

void MusicMaker::TrackSteps(int track, int first, int end, bool releaseAtEnd, std::vector<int>& lastStep,
                            const NoteSink& sink) {
    const auto t = static_cast<std::size_t>(track);
    int last = t < lastStep.size() ? lastStep[t] : -1;
    // Gathered before any is played: with Record checked during playback, PlayNote records, and
    // recording may grow the song and move the steps read here.
    m_changes.clear();
    AppendNoteChanges(g_Tracks[t], g_lNumSteps, first, end, releaseAtEnd, last, m_changes);
    const int channel = g_Tracks[t].Channel;
    for (const NoteChange& c : m_changes) sink(c, channel);
    // After the release at the end nothing of the track sounds: the next notes step stops nothing.
    if (t < lastStep.size()) lastStep[t] = releaseAtEnd ? -1 : last;
}

bool MusicMaker::StepThrough(int& cursor, std::vector<int>& lastStep, const NoteSink& sink) {
    const auto [first, end] = LoopSteps();
    if (m_bLoop && cursor >= end && first < end) {
        // The wrap: what sounds is released as the next notes step would release it, and that
        // step follows in this same tick, so the pass boundary takes no time of its own.
        for (int t = 0; t < g_lNumTracks && t < static_cast<int>(g_Tracks.size()); ++t) {
            if (TrackPlays(t)) TrackSteps(t, cursor, cursor, true, lastStep, sink);
        }
        cursor = first;
    } else if (cursor >= (m_bLoop ? end : g_lNumSteps)) {
        return false;
    }
    const int step = cursor;
    for (int t = 0; t < g_lNumTracks && t < static_cast<int>(g_Tracks.size()); ++t) {
        if (TrackPlays(t)) TrackSteps(t, step, step + 1, false, lastStep, sink);
    }
    ++cursor;
    return true;
}

void MusicMaker::PlayStep() {
    // On the song's own transport, so that a note recorded meanwhile moves the cursor read here.
    const bool played = StepThrough(g_lCurStep, g_lLastStep, [](const NoteChange& c, int channel) {
        if (c.start) PlayNote(c.note, 100, channel);
        else StopNote(c.note, channel);
    });
    if (!played) Ended();
}

void MusicMaker::Ended() {
    m_lSoloTrack = -1;
    SetPlay(false);
}

void MusicMaker::StartSender() {
    m_timer.stop();
    m_sender.reset();
    m_sender = std::make_unique<StepSender>(SendFromAnyThread, [this] {
        QMetaObject::invokeMethod(this, &MusicMaker::OnPlayed, Qt::QueuedConnection);
    });
    m_plan = {g_lCurStep, g_lLastStep};
    m_planStep = m_nextStep;
    m_planEnded = false;
    PlanAhead();
}

bool MusicMaker::StopSender() {
    if (!m_sender) return false;
    m_sender->Cancel();
    const bool ended = TakePlayed();
    m_sender.reset();
    return ended;
}

void MusicMaker::PlanAhead() {
    if (!m_sender) return;
    DropMissedPasses(m_planStep, m_plan.cursor);
    const double until = m_clock->NowMs() + kPlanAheadMs;
    for (std::size_t pending = m_sender->Pending(); !m_planEnded && (pending < 2 || DueMs(m_planStep) <= until);
         ++pending) {
        PlannedStep step;
        step.number = m_planStep++;
        step.dueMs = DueMs(step.number);
        // With the output closed the entry points send nothing; the schedule runs on.
        const bool open = g_bMidiOutOpen;
        m_planEnded = !StepThrough(m_plan.cursor, m_plan.lastStep, [&](const NoteChange& c, int channel) {
            if (open) step.messages.push_back(PackShortMessage(0x90 + channel, c.note, c.start ? 100 : 0));
        });
        step.ends = m_planEnded;
        step.after = m_plan;
        m_sender->Push(std::move(step));
    }
}

void MusicMaker::Replan(unsigned parts) {
    const int cursor = g_lCurStep;
    const std::vector<int> lastSteps = g_lLastStep;
    m_sender->Cancel();
    if (TakePlayed()) return Ended();
    // The steps played before the edit moved the transport; the edit's own moves win.
    if (parts & SongChange::Cursor) g_lCurStep = cursor;
    if (parts == SongChange::Whole) g_lLastStep = lastSteps;
    else g_lLastStep.resize(lastSteps.size(), 0);
    m_plan = {g_lCurStep, g_lLastStep};
    m_planStep = m_nextStep;
    m_planEnded = false;
    PlanAhead();
}

void MusicMaker::SongChanged(const SongChange& change) {
    if (m_sender) Replan(change.parts);
}

bool MusicMaker::TakePlayed() {
    bool ended = false;
    for (PlayedStep& played : m_sender->TakePlayed()) {
        const PlannedStep& step = played.step;
        if (m_observer) m_observer(step.number, step.dueMs, played.playedMs);
        m_nextStep = step.number + 1;
        for (std::uint32_t m : played.sent) NoteSent(m);
        g_lCurStep = step.after.cursor;
        g_lLastStep = step.after.lastStep;
        ended = ended || step.ends;
    }
    return ended;
}

void MusicMaker::OnPlayed() {
    if (!m_sender) return;
    if (TakePlayed()) return Ended();
    PlanAhead();
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
