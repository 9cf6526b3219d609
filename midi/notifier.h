#pragma once
// Stands in for the hidden callback window: backends post the devices' notifications here from
// any thread; they are handled on the UI thread, one at a time, in arrival order.

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace kivra {

class MidiNotifier : public QObject {
    Q_OBJECT
public:
    explicit MidiNotifier(QObject* parent = nullptr);

    // Thread-safe. Each post is tied to the current generation; posts of an earlier generation
    // (a device closed since) are dropped, as notifications queued to a destroyed window are.
    void PostOutputOpened();
    void PostOutputClosed();
    // An output that was loading in the background could not be opened, `error` says why.
    void PostOutputFailed(std::string error);
    void PostInputData(std::uint32_t packed);

    // Ends the current generation (DestroyCallbackWindow): nothing posted before is handled.
    void Invalidate() { generation_.fetch_add(1); }

    // The note dispatch of received messages; set once at start-up. Called on the UI thread.
    std::function<void(std::uint32_t)> onInputData;
    // Told when an output that was loading in the background has opened (empty error) or failed.
    // Called on the UI thread, after the note routing has taken the news.
    std::function<void(const std::string& error)> onLoadEnded;

private:
    template <typename F> void Post(F&& handler);
    std::atomic<unsigned> generation_{0};
};

}  // namespace kivra
