// The song's history on Qt's undo stack, and the one place where changes reach the song.
#include "musicmaker/songedit.h"

#include <QUndoStack>

#include <algorithm>
#include <memory>

namespace kivra {

namespace {

std::vector<SongView*> g_views;
std::size_t g_historyBytes = 0;
std::size_t g_byteLimit = kHistoryBytes;
bool g_rebuilding = false;  // moving commands to a new stack: nothing is applied or merged
// The selection's other end, and where the cursor stood when it was set.
int g_anchor = 0;
CursorAt g_anchoredAt;

void Apply(StepsEdit& e, bool forward) {
    auto& steps = g_Tracks[static_cast<std::size_t>(e.track)].Steps;
    const auto& out = forward ? e.before : e.after;
    const auto& in = forward ? e.after : e.before;
    const auto first = static_cast<std::size_t>(e.first);
    if (steps.size() < first + out.size()) steps.resize(first + out.size());  // a cursor left past the end
    steps.Splice(first, out.size(), in);
    const int length = forward ? e.lengthAfter : e.lengthBefore;
    unsigned parts = SongChange::Steps | SongChange::Cursor;
    if (length != g_lNumSteps) parts |= SongChange::Length;
    g_lNumSteps = length;
    for (auto& track : g_Tracks)
        if (track.Steps.size() != static_cast<std::size_t>(length)) track.Steps.resize(static_cast<std::size_t>(length));
    const CursorAt cursor = forward ? e.cursorAfter : e.cursorBefore;
    PlaceCursor(cursor.track, cursor.step, cursor.step);
    Notify({parts, e.track, e.first, out.size() == in.size() ? static_cast<int>(in.size()) : -1});
}

void Apply(SettingEdit& e, bool forward) {
    const int value = forward ? e.after : e.before;
    const auto index = static_cast<std::size_t>(e.index);
    switch (e.kind) {
    case SettingEdit::Tempo: g_lTempo = value; break;
    case SettingEdit::NotesPerBeat: g_lNotesPerBeat = value; break;
    case SettingEdit::Channel: g_Tracks[index].Channel = static_cast<std::uint8_t>(value); break;
    case SettingEdit::Patch: g_bytChannelPatch[index] = static_cast<std::uint8_t>(value); break;
    }
    Notify({SongChange::Settings, e.kind == SettingEdit::Channel ? e.index : -1, 0, 0});
}

void Apply(TracksEdit& e, bool forward) {
    const auto keep = static_cast<std::size_t>(e.keep);
    if (forward) {
        e.removed.assign(std::make_move_iterator(g_Tracks.begin() + e.keep), std::make_move_iterator(g_Tracks.end()));
        g_Tracks.resize(keep);
        SongTrack added;
        if (g_lNumSteps > 0) added.Steps.resize(static_cast<std::size_t>(g_lNumSteps));
        g_Tracks.resize(static_cast<std::size_t>(e.countAfter), added);
    } else {
        g_Tracks.resize(keep);
        g_Tracks.insert(g_Tracks.end(), std::make_move_iterator(e.removed.begin()), std::make_move_iterator(e.removed.end()));
        e.removed.clear();
    }
    g_lNumTracks = static_cast<int>(g_Tracks.size());
    g_lLastStep.resize(g_Tracks.size(), 0);
    const int current = forward ? e.currentAfter : e.currentBefore;
    PlaceCursor(current, g_lCurStep, current == g_lCurTrack ? g_anchor : g_lCurStep);
    Notify({SongChange::Tracks | SongChange::Cursor | SongChange::Settings, -1, 0, 0});
}

void Apply(WholeEdit& e, bool) {
    std::swap(g_Tracks, e.song.Tracks);
    std::swap(g_lNumTracks, e.numTracks);
    std::swap(g_lNumSteps, e.song.NumSteps);
    std::swap(g_lTempo, e.song.Tempo);
    std::swap(g_lNotesPerBeat, e.song.NotesPerBeat);
    std::swap(g_bytChannelPatch, e.song.ChannelPatch);
    std::swap(g_lCurStep, e.curStep);
    std::swap(g_lCurTrack, e.curTrack);
    if (e.forgetsLastSteps) g_lLastStep.assign(g_Tracks.size(), 0);
    else g_lLastStep.resize(g_Tracks.size(), 0);
    PlaceCursor(g_lCurTrack, g_lCurStep, g_lCurStep);
    Notify({});
}

void Apply(SongEdit& edit, bool forward) {
    std::visit([forward](auto& e) { Apply(e, forward); }, edit);
}

class SongCommand : public QUndoCommand {
public:
    SongCommand(SongEdit&& edit, std::size_t bytes) : edit_(std::move(edit)) { Count(bytes); }
    ~SongCommand() override { Count(0); }

    void redo() override {
        if (!g_rebuilding) Apply(edit_, true);
    }
    void undo() override {
        if (!g_rebuilding) Apply(edit_, false);
    }
    int id() const override { return 1; }
    bool mergeWith(const QUndoCommand* other) override {
        if (g_rebuilding) return false;
        // `other` is applied already and is deleted after a merge: what it holds may be taken.
        auto& next = const_cast<SongCommand&>(static_cast<const SongCommand&>(*other)).edit_;
        if (!std::visit([this](auto& a, auto& b) { return Merge(a, b); }, edit_, next)) return false;
        Count(std::visit([](const auto& e) { return Held(e); }, edit_));
        return true;
    }
    std::size_t Bytes() const { return bytes_; }
    // Moves what this command holds into a new one; this one is left empty.
    std::unique_ptr<SongCommand> Take() {
        auto taken = std::make_unique<SongCommand>(std::move(edit_), bytes_);
        Count(0);
        return taken;
    }

private:
    void Count(std::size_t bytes) {
        g_historyBytes = g_historyBytes - bytes_ + bytes;
        bytes_ = bytes;
    }
    static std::size_t Held(const StepsEdit& e) { return sizeof(SongCommand) + 64 + StepsBytes(e.before) + StepsBytes(e.after); }
    static std::size_t Held(const SettingEdit&) { return sizeof(SongCommand) + 64; }
    static std::size_t Held(const TracksEdit& e) { return sizeof(SongCommand) + 64 + TracksBytes(e.removed); }
    static std::size_t Held(const WholeEdit&) { return 0; }  // never merged

    // A chord note joins the command of the note that opened its step.
    bool Merge(StepsEdit& a, StepsEdit& b) {
        if (!b.chordNote || !a.recorded || a.track != b.track || a.first != b.first || a.after.size() != 1 ||
            b.before.size() != 1 || b.after.size() != 1 || a.lengthAfter != b.lengthBefore)
            return false;
        a.after = std::move(b.after);
        a.lengthAfter = b.lengthAfter;
        a.cursorAfter = b.cursorAfter;
        return true;
    }
    // One scroll-bar drag is one change; a drag back to where it began is none.
    bool Merge(SettingEdit& a, SettingEdit& b) {
        if (b.gesture == 0 || b.gesture != a.gesture || a.kind != b.kind || a.index != b.index) return false;
        a.after = b.after;
        setObsolete(a.after == a.before);
        return true;
    }
    bool Merge(TracksEdit& a, TracksEdit& b) {
        if (b.gesture == 0 || b.gesture != a.gesture) return false;
        // The tracks b removed beyond a's `keep` were added empty by a: only those before it are the song's.
        if (b.keep < a.keep) {
            b.removed.resize(static_cast<std::size_t>(a.keep - b.keep));
            b.removed.insert(b.removed.end(), std::make_move_iterator(a.removed.begin()), std::make_move_iterator(a.removed.end()));
            a.removed = std::move(b.removed);
            a.keep = b.keep;
        }
        a.countAfter = b.countAfter;
        a.currentAfter = b.currentAfter;
        setObsolete(a.keep == a.countBefore && a.countAfter == a.countBefore && a.currentAfter == a.currentBefore);
        return true;
    }
    template <typename A, typename B>
    bool Merge(A&, B&) {
        return false;
    }

    SongEdit edit_;
    std::size_t bytes_ = 0;
};

SongCommand& CommandAt(int index) {
    // Every command on the song's stack is a SongCommand; the stack hands them out const only.
    return const_cast<SongCommand&>(static_cast<const SongCommand&>(*SongHistory().command(index)));
}

// Drops the oldest commands while the history holds more than its byte bound, keeping the latest.
// Qt's stack drops only by count, so the kept commands move to the emptied stack unapplied.
void KeepWithinBytes() {
    QUndoStack& stack = SongHistory();
    const int count = stack.count();
    if (g_historyBytes <= g_byteLimit || count <= 1 || stack.index() != count) return;
    int drop = 0;
    for (std::size_t bytes = g_historyBytes; drop < count - 1 && bytes > g_byteLimit; ++drop) bytes -= CommandAt(drop).Bytes();
    std::vector<std::unique_ptr<SongCommand>> kept;
    for (int i = drop; i < count; ++i) kept.push_back(CommandAt(i).Take());
    const int clean = stack.cleanIndex() - drop;
    g_rebuilding = true;
    stack.clear();
    for (auto& command : kept) {
        stack.push(command.release());
        if (stack.index() == clean) stack.setClean();
    }
    if (clean < 0) stack.resetClean();  // the saved song is no longer in the history
    g_rebuilding = false;
}

}  // namespace

void AddSongView(SongView* view) {
    if (std::find(g_views.begin(), g_views.end(), view) == g_views.end()) g_views.push_back(view);
}

void RemoveSongView(SongView* view) { std::erase(g_views, view); }

void Notify(const SongChange& change) {
    const std::vector<SongView*> views = g_views;  // a view may come or go while being told
    for (SongView* view : views)
        if (std::find(g_views.begin(), g_views.end(), view) != g_views.end()) view->SongChanged(change);
}

int SelectionAnchor() {
    const bool moved = g_anchoredAt.track != g_lCurTrack || g_anchoredAt.step != g_lCurStep;
    return moved ? g_lCurStep : g_anchor;  // playback moved the cursor: the selection is just the cursor
}

void PlaceCursor(int track, int step, int anchor) {
    g_lCurTrack = track;
    g_lCurStep = step;
    g_anchor = anchor;
    g_anchoredAt = {track, step};
}

QUndoStack& SongHistory() {
    // The limit can be set only while the stack is empty.
    static QUndoStack& stack = []() -> QUndoStack& {
        static QUndoStack s;
        s.setUndoLimit(kHistoryCommands);
        return s;
    }();
    return stack;
}

void Commit(SongEdit&& edit, std::size_t bytes) {
    // Counted with the command itself and what Qt keeps for it.
    SongHistory().push(new SongCommand(std::move(edit), bytes + sizeof(SongCommand) + 64));  // owned by the stack
    KeepWithinBytes();
}

void ApplyUnrecorded(SongEdit&& edit) { Apply(edit, true); }

std::size_t HistoryBytes() { return g_historyBytes; }

void SetHistoryByteLimit(std::size_t bytes) {
    g_byteLimit = bytes;
    KeepWithinBytes();
}

bool SongChanged() { return !SongHistory().isClean(); }
void MarkSongSaved() { SongHistory().setClean(); }

std::size_t StepsBytes(const std::vector<SongStep>& steps) {
    std::size_t bytes = steps.capacity() * sizeof(SongStep);
    for (const SongStep& step : steps) bytes += step.Notes.HeapBytes();
    return bytes;
}

std::size_t TracksBytes(const std::vector<SongTrack>& tracks, std::size_t from) {
    std::size_t bytes = 0;
    for (std::size_t t = from; t < tracks.size(); ++t) bytes += sizeof(SongTrack) + tracks[t].Steps.Bytes();
    return bytes;
}

}  // namespace kivra
