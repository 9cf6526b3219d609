#include "midi/midiinput.h"

#include "midi/midiio.h"
#include "midi/notifier.h"

namespace kivra {

void DispatchMIDIInput(std::uint32_t message) {
    const unsigned status = message & 0xFFu;
    const unsigned kind = status & 0xF0u;
    const unsigned channel = status & 0x0Fu;
    const unsigned data1 = (message >> 8) & 0xFFu;
    const unsigned data2 = (message >> 16) & 0xFFu;
    // A data byte with its top bit set is no MIDI message; passing it on would send a malformed one.
    if ((data1 | data2) & 0x80u) return;
    const int note = static_cast<int>(data1);
    const int velocity = static_cast<int>(data2);

    // A key of the keyboard is its note on its channel; its release stops what its press started.
    const int key = static_cast<int>(channel) * 128 + note;
    if (kind == 0x90 && velocity > 0) {
        // Percussion stays on the percussion channel; everything else follows the play channel.
        PressNote(NoteSource::MidiInput, key, note, velocity, channel == 9 ? 9 : PlayChannel());
    } else if (kind == 0x90 || kind == 0x80) {
        ReleaseKey(NoteSource::MidiInput, key);
    }
}

void InstallMidiInputDispatch() { Notifier().onInputData = &DispatchMIDIInput; }

}  // namespace kivra
