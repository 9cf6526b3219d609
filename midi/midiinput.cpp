#include "midi/midiinput.h"

#include "midi/message.h"
#include "midi/midiio.h"
#include "midi/notifier.h"

namespace kivra {

namespace {
bool g_passControllers = false;
}  // namespace

bool PassControllers() { return g_passControllers; }
void SetPassControllers(bool on) { g_passControllers = on; }

void DispatchMIDIInput(std::uint32_t message) {
    const ShortMessage m = UnpackShortMessage(message);
    // A data byte with its top bit set is no MIDI message; passing it on would send a malformed one.
    if (IsStatusByte(m.data1) || IsStatusByte(m.data2)) return;
    const int channel = m.Channel();
    const int note = m.data1;
    const int velocity = m.data2;

    // A key of the keyboard is its note on its channel; its release stops what its press started.
    const int key = channel * 128 + note;
    // Percussion stays on the percussion channel; everything else follows the play channel.
    const auto target = [channel] { return channel == 9 ? 9 : PlayChannel(); };
    if (m.Kind() == kNoteOnStatus && velocity > 0) {
        PressNote(NoteSource::MidiInput, key, note, velocity, target());
    } else if (m.Kind() == kNoteOnStatus || m.Kind() == kNoteOffStatus) {
        ReleaseKey(NoteSource::MidiInput, key);
    } else if (g_passControllers && m.Kind() == kProgramChangeStatus) {
        const int to = target();
        PianoPort* piano = GetPianoPort();
        // Off the percussion channel the window's own choice sends it, on the channel `to` names.
        if (piano && to != 9) piano->UpdateInstrument(m.data1);
        else SetPatch(m.data1, to);
    } else if (g_passControllers && m.Kind() != kSystemStatus) {
        const int data2 = ShortMessageLength(m.status) == 3 ? m.data2 : 0;
        SendControl(PackShortMessage(static_cast<int>(m.Kind()) + target(), m.data1, data2));
    }
}

void InstallMidiInputDispatch() { Notifier().onInputData = &DispatchMIDIInput; }

}  // namespace kivra
