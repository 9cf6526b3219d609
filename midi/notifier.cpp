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
    Post([] { g_bMidiOutOpen = true; });
}

void MidiNotifier::PostOutputClosed() {
    Post([] {
        g_bMidiOutOpen = false;
        ForgetSoundingNotes();
    });
}

void MidiNotifier::PostInputData(std::uint32_t packed) {
    Post([this, packed] {
        if (onInputData) onInputData(packed & 0xFFFFFFu);
    });
}

}  // namespace kivra
