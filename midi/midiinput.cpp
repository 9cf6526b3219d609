#include "midi/midiinput.h"

#include "midi/message.h"
#include "midi/midiio.h"
#include "midi/notifier.h"

namespace kivra {

void DispatchMIDIInput(std::uint32_t message) {
    const ShortMessage m = UnpackShortMessage(message);
    // A data byte with its top bit set is no MIDI message; passing it on would send a malformed one.
    if (IsStatusByte(m.data1) || IsStatusByte(m.data2)) return;
    const int channel = m.Channel();
    const int note = m.data1;
    const int velocity = m.data2;

    // A key of the keyboard is its note on its channel; its release stops what its press started.
    const int key = channel * 128 + note;
    if (m.Kind() == kNoteOnStatus && velocity > 0) {
        // Percussion stays on the percussion channel; everything else follows the play channel.
        PressNote(NoteSource::MidiInput, key, note, velocity, channel == 9 ? 9 : PlayChannel());
    } else if (m.Kind() == kNoteOnStatus || m.Kind() == kNoteOffStatus) {
        ReleaseKey(NoteSource::MidiInput, key);
    }
}

void InstallMidiInputDispatch() { Notifier().onInputData = &DispatchMIDIInput; }

}  // namespace kivra
