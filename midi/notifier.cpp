#include "midi/notifier.h"

#include "midi/midiio.h"

#include <QMetaObject>

namespace kivra {

MidiNotifier::MidiNotifier(QObject* parent) : QObject(parent) {}

template <typename F> void MidiNotifier::Post(F&& handler) {
    const unsigned generation = generation_.load();
    QMetaObject::invokeMethod(
        this,
        [this, generation, handler = std::forward<F>(handler)] {
            if (generation == generation_.load()) handler();
        },
        Qt::QueuedConnection);
}

void MidiNotifier::PostOutputOpened() {
    Post([this] {
        const bool loaded = g_bMidiOutLoading;
        OutputOpened();
        if (loaded && onLoadEnded) onLoadEnded({});
    });
}

void MidiNotifier::PostOutputClosed() {
    Post([] {
        g_bMidiOutOpen = g_bMidiOutLoading = false;
        ForgetSoundingNotes();
    });
}

void MidiNotifier::PostOutputFailed(std::string error) {
    Post([this, error = std::move(error)] {
        OutputFailed();
        if (onLoadEnded) onLoadEnded(error);
    });
}

void MidiNotifier::PostInputData(std::uint32_t packed) {
    Post([this, packed] {
        if (onInputData) onInputData(packed & 0xFFFFFFu);
    });
}

}  // namespace kivra
