#include "musicmaker/stepsender.h"

#include <utility>

#include <pthread.h>
#include <sched.h>

namespace kivra {

namespace {

using Steady = std::chrono::steady_clock;

Steady::time_point TimePoint(double ms) {
    return Steady::time_point(std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double, std::milli>(ms)));
}

}  // namespace

double StepSender::NowMs() {
    return std::chrono::duration<double, std::milli>(Steady::now().time_since_epoch()).count();
}

StepSender::StepSender(std::function<bool(std::uint32_t)> send, std::function<void()> played)
    : send_(std::move(send)), played_(std::move(played)), thread_([this](std::stop_token stop) { Run(stop); }) {}

StepSender::~StepSender() {
    Cancel();
    thread_.request_stop();  // wakes the wait below through its stop token
}

void StepSender::Push(PlannedStep step) {
    const std::lock_guard lock(lock_);
    planned_.push_back(std::move(step));
    if (planned_.size() == 1) wake_.notify_one();
}

void StepSender::Cancel() {
    const std::lock_guard lock(lock_);
    planned_.clear();
    ++cancels_;
    wake_.notify_one();
}

std::vector<PlayedStep> StepSender::TakePlayed() {
    const std::lock_guard lock(lock_);
    return std::exchange(done_, {});
}

std::size_t StepSender::Pending() {
    const std::lock_guard lock(lock_);
    return planned_.size();
}

void StepSender::Run(std::stop_token stop) {
    // Real-time scheduling, where the user may have it (the audio group's rtprio limit), lets the
    // step preempt the programs that keep the cores busy; below the synthesizer's audio thread,
    // whose deadline is harder. Without it the thread runs as any other, on time while a core is free.
    sched_param param{};
    param.sched_priority = kRealTimePriority;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    std::unique_lock lock(lock_);
    while (!stop.stop_requested()) {
        if (planned_.empty()) {
            wake_.wait(lock, stop, [this] { return !planned_.empty(); });
            continue;
        }
        const unsigned cancels = cancels_;
        // Woken again when the steps are dropped; a step pushed behind this one falls due later.
        if (wake_.wait_until(lock, stop, TimePoint(planned_.front().dueMs), [&] { return cancels_ != cancels; }))
            continue;
        if (stop.stop_requested() || planned_.empty()) continue;
        // Sent under the lock, so that Cancel returns only once no step is going out.
        PlayedStep played{std::move(planned_.front()), NowMs(), {}};
        planned_.pop_front();
        for (std::uint32_t m : played.step.messages)
            if (send_(m)) played.sent.push_back(m);
        const bool first = done_.empty();
        done_.push_back(std::move(played));
        if (first) {
            lock.unlock();
            played_();
            lock.lock();
        }
    }
}

}  // namespace kivra
