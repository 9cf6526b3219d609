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

MusicMaker::MusicMaker(QObject* parent) : QObject(parent), clock_(std::make_unique<SteadyClock>()) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &MusicMaker::OnTimer);
    SetRecorderPort(this);
    AddSongView(this);
}

MusicMaker::~MusicMaker() {
    sender_.reset();
    RemoveSongView(this);
    if (GetRecorderPort() == this) SetRecorderPort(nullptr);
}

int MusicMaker::CurrentTrackChannel() const {
    if (g_lCurTrack < 0 || g_lCurTrack >= static_cast<int>(g_Tracks.size())) return 0;
    return g_Tracks[static_cast<std::size_t>(g_lCurTrack)].Channel;
}

void MusicMaker::RecordNote(int note, int velocity) { kivra::RecordNote(note, velocity); }

void MusicMaker::SetRecord(bool on) {
    if (on == record_) return;
    // The notes played while recording are recorded: the sender stops before the first of them.
    const bool ended = on && StopSender();
    record_ = on;
    if (PianoPort* piano = GetPianoPort()) {
        piano->SetRecordingLock(on);
        if (on) piano->UpdateInstrument(g_bytChannelPatch[static_cast<std::size_t>(CurrentTrackChannel() & 15)]);
    }
    emit recordChanged(on);
    if (ended) Ended();
    else if (play_ && !on && !fakeClock_) StartSender();
    else if (play_) ArmTimer();
}

void MusicMaker::SetPlay(bool on) {
    if (on == play_) return;
    std::optional<SharedStart> shared;
    if (share_ && on) shared = share_->PlayPressed(g_lTempo);
    else if (share_) share_->StopPressed();
    Switch(on, shared);
}

void MusicMaker::StartShared(const SharedStart& start) {
    if (record_) return;
    if (play_) Switch(false, std::nullopt);
    Switch(true, start);
}

void MusicMaker::StopShared() {
    if (play_) Switch(false, std::nullopt);
}

void MusicMaker::Switch(bool on, const std::optional<SharedStart>& shared) {
    if (on) SetRecord(false);
    play_ = on;
    if (on) {
        g_lCurStep = loop_ ? LoopSteps().first : 0;
        if (m_lSoloTrack >= g_lNumTracks) m_lSoloTrack = -1;  // the track went away since
        bandChannel_ = shared ? shared->channel & 15 : -1;
        if (bandChannel_ >= 0) {
            // One channel for the whole song: the instrument of its first (or solo) track.
            const int c = g_Tracks[static_cast<std::size_t>(std::max(m_lSoloTrack, 0))].Channel & 15;
            SetPatch(g_bytChannelPatch[static_cast<std::size_t>(c)], bandChannel_);
        } else if (m_lSoloTrack < 0) {
            for (int c = 0; c < 16; ++c) SetPatch(g_bytChannelPatch[static_cast<std::size_t>(c)], c);
        } else {
            const int c = g_Tracks[static_cast<std::size_t>(m_lSoloTrack)].Channel & 15;
            SetPatch(g_bytChannelPatch[static_cast<std::size_t>(c)], c);
        }
        interval_ = PlayInterval(g_lNotesPerBeat, shared ? shared->tempo : g_lTempo);
        startMs_ = clock_->NowMs();
        if (shared) startMs_ += std::max(0.0, shared->atMs - SteadyClock().NowMs());
        nextStep_ = 1;
        if (fakeClock_) ArmTimer();
        else StartSender();
    } else {
        if (StopSender()) m_lSoloTrack = -1;  // the end came before the hand
        timer_.stop();
        for (int c = 0; c < 16; ++c) {
            for (int n = 0; n < 128; ++n) StopNote(n, c);
        }
    }
    if (!on) bandChannel_ = -1;
    emit playChanged(on);
}

void MusicMaker::SetLoop(bool on) {
    if (on == loop_) return;
    loop_ = on;
    if (sender_) Replan(0);
    emit loopChanged(on);
}

std::pair<int, int> MusicMaker::LoopSteps() const {
    const int end = std::clamp(loopRange_.second, 0, std::max(g_lNumSteps, 0));
    return {std::clamp(loopRange_.first, 0, end), end};
}

void MusicMaker::PlayTrackAlone(int track) {
    if (track < 0 || track >= g_lNumTracks) return;
    SetSoloTrack(track);
    SetPlay(true);
}

void MusicMaker::SetSoloTrack(int track) {
    m_lSoloTrack = track;
    if (sender_) Replan(0);
}

void MusicMaker::SetClock(std::unique_ptr<Clock> clock) {
    const bool ended = StopSender();
    fakeClock_ = static_cast<bool>(clock);
    clock_ = clock ? std::move(clock) : std::make_unique<SteadyClock>();
    timer_.stop();
    if (ended) Ended();
    else if (play_ && !fakeClock_ && !record_) StartSender();
    else ArmTimer();
}

void MusicMaker::ArmTimer() {
    if (!play_ || fakeClock_ || sender_) return;
    const double due = DueMs(nextStep_);
    // Armed on the whole millisecond at or before the deadline: a wake-up that comes early is
    // re-armed with 0 until the deadline, so a step is never early and at most a wake-up late.
    const double wait = std::floor(due - clock_->NowMs());
    timer_.start(wait > 0 ? static_cast<int>(wait) : 0);
}

void MusicMaker::OnTimer() {
    if (sender_) return;
    DropMissedPasses(nextStep_, g_lCurStep);
    // Every deadline is counted from the start, so lateness of one step never shifts the next.
    while (play_) {
        const double due = DueMs(nextStep_);
        const double now = clock_->NowMs();
        if (now < due) break;
        if (observer_) observer_(nextStep_, due, now);
        ++nextStep_;
        PlayStep();
    }
    ArmTimer();
}

void MusicMaker::DropMissedPasses(long long& nextStep, int cursor) const {
    if (!play_ || !loop_) return;
    const auto [first, end] = LoopSteps();
    const long long pass = end - first;
    if (pass < 1 || cursor < first || cursor > end) return;
    const double late = clock_->NowMs() - DueMs(nextStep);
    if (late < 0) return;
    // The passes are alike, so skipping whole ones sends nothing and leaves the same notes sounding;
    // what is left (one step at least) is played late as usual.
    const long long due = static_cast<long long>(late / interval_) + 1;
    nextStep += (due - 1) / pass * pass;
}

void MusicMaker::TrackSteps(int track, int first, int end, bool releaseAtEnd, std::vector<int>& lastStep,
                            const NoteSink& sink) {
    const auto t = static_cast<std::size_t>(track);
    int last = t < lastStep.size() ? lastStep[t] : -1;
    // Gathered before any is played: with Record checked during playback, PlayNote records, and
    // recording may grow the song and move the steps read here.
    changes_.clear();
    AppendNoteChanges(g_Tracks[t], g_lNumSteps, first, end, releaseAtEnd, last, changes_);
    const int channel = TrackChannel(t);
    for (const NoteChange& c : changes_) sink(c, channel);
    // After the release at the end nothing of the track sounds: the next notes step stops nothing.
    if (t < lastStep.size()) lastStep[t] = releaseAtEnd ? -1 : last;
}

bool MusicMaker::StepThrough(int& cursor, std::vector<int>& lastStep, const NoteSink& sink) {
    const auto [first, end] = LoopSteps();
    if (loop_ && cursor >= end && first < end) {
        // The wrap: what sounds is released as the next notes step would release it, and that
        // step follows in this same tick, so the pass boundary takes no time of its own.
        for (int t = 0; t < g_lNumTracks && t < static_cast<int>(g_Tracks.size()); ++t) {
            if (TrackPlays(t)) TrackSteps(t, cursor, cursor, true, lastStep, sink);
        }
        cursor = first;
    } else if (cursor >= (loop_ ? end : g_lNumSteps)) {
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
        if (c.start) PlayNote(c.note, c.velocity, channel);
        else StopNote(c.note, channel);
    });
    if (!played) Ended();
}

void MusicMaker::Ended() {
    m_lSoloTrack = -1;
    if (play_) Switch(false, std::nullopt);
}

void MusicMaker::StartSender() {
    timer_.stop();
    sender_.reset();
    sender_ = std::make_unique<StepSender>(SendFromAnyThread, [this] {
        QMetaObject::invokeMethod(this, &MusicMaker::OnPlayed, Qt::QueuedConnection);
    });
    plan_ = {g_lCurStep, g_lLastStep};
    planStep_ = nextStep_;
    planEnded_ = false;
    PlanAhead();
}

bool MusicMaker::StopSender() {
    if (!sender_) return false;
    sender_->Cancel();
    const bool ended = TakePlayed();
    sender_.reset();
    return ended;
}

void MusicMaker::PlanAhead() {
    if (!sender_) return;
    DropMissedPasses(planStep_, plan_.cursor);
    const double until = clock_->NowMs() + kPlanAheadMs;
    for (std::size_t pending = sender_->Pending(); !planEnded_ && (pending < 2 || DueMs(planStep_) <= until);
         ++pending) {
        PlannedStep step;
        step.number = planStep_++;
        step.dueMs = DueMs(step.number);
        // With the output closed the entry points send nothing; the schedule runs on.
        const bool open = g_bMidiOutOpen;
        planEnded_ = !StepThrough(plan_.cursor, plan_.lastStep, [&](const NoteChange& c, int channel) {
            if (open) step.messages.push_back(PackShortMessage(0x90 + channel, c.note, c.velocity));
        });
        step.ends = planEnded_;
        step.after = plan_;
        sender_->Push(std::move(step));
    }
}

void MusicMaker::Replan(unsigned parts) {
    const int cursor = g_lCurStep;
    const std::vector<int> lastSteps = g_lLastStep;
    sender_->Cancel();
    if (TakePlayed()) return Ended();
    // The steps played before the edit moved the transport; the edit's own moves win.
    if (parts & SongChange::Cursor) g_lCurStep = cursor;
    if (parts == SongChange::Whole) g_lLastStep = lastSteps;
    else g_lLastStep.resize(lastSteps.size(), 0);
    plan_ = {g_lCurStep, g_lLastStep};
    planStep_ = nextStep_;
    planEnded_ = false;
    PlanAhead();
}

void MusicMaker::SongChanged(const SongChange& change) {
    if (sender_) Replan(change.parts);
}

bool MusicMaker::TakePlayed() {
    bool ended = false;
    for (PlayedStep& played : sender_->TakePlayed()) {
        const PlannedStep& step = played.step;
        if (observer_) observer_(step.number, step.dueMs, played.playedMs);
        nextStep_ = step.number + 1;
        for (std::uint32_t m : played.sent) NoteSent(m);
        g_lCurStep = step.after.cursor;
        g_lLastStep = step.after.lastStep;
        ended = ended || step.ends;
    }
    return ended;
}

void MusicMaker::OnPlayed() {
    if (!sender_) return;
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
