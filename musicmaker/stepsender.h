#pragma once
// Playback's clock hand: a thread of its own that sends each planned step's messages at its
// deadline, so that a busy UI thread (a repaint, a long edit) cannot make a step late. The UI
// thread plans the steps ahead and takes back what was played, in order, to light the keys and
// keep the record of what sounds. No Qt here: the sender only calls `played` to say there is
// something to take.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kivra {

// Where playback stands between two steps: the cursor and, per track, the step whose notes the
// track started last.
struct Transport {
    int cursor = 0;
    std::vector<int> lastStep;
};

struct PlannedStep {
    long long number = 0;  // since Play started, 1 = first
    double dueMs = 0;      // on the steady clock
    std::vector<std::uint32_t> messages;  // note-ons and note-offs, in the order they go out
    bool ends = false;                    // the song is over here: nothing is sent, Play stops
    Transport after;                      // where playback stands once the step is played
};

struct PlayedStep {
    PlannedStep step;
    double playedMs = 0;
    std::vector<std::uint32_t> sent;  // the messages the output took
};

class StepSender {
public:
    // `send` sends one message (thread-safe); `played` is called on the sender's thread when a
    // step has been played and TakePlayed had nothing waiting before it.
    StepSender(std::function<bool(std::uint32_t)> send, std::function<void()> played);
    ~StepSender();  // drops what was not played and ends the thread
    StepSender(const StepSender&) = delete;
    StepSender& operator=(const StepSender&) = delete;

    // Appends a step; steps go out in the order they were pushed.
    void Push(PlannedStep step);
    // Drops every step not yet played. Once it returns no step is being sent.
    void Cancel();
    // The steps played since the last call, oldest first.
    std::vector<PlayedStep> TakePlayed();
    // The steps pushed and not yet played.
    std::size_t Pending();

    static double NowMs();

    // The thread's SCHED_FIFO priority when the system grants one (FluidSynth's audio thread asks 60).
    static constexpr int kRealTimePriority = 40;

private:
    void Run(std::stop_token stop);

    std::function<bool(std::uint32_t)> send_;
    std::function<void()> played_;
    std::mutex lock_;
    std::condition_variable_any wake_;
    std::deque<PlannedStep> planned_;
    std::vector<PlayedStep> done_;
    unsigned cancels_ = 0;
    std::jthread thread_;  // last: started once the rest exists, joined before it goes
};

}  // namespace kivra
