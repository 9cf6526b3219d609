#include "keyboard/keyactions.h"

#include "keyboard/keymap.h"
#include "midi/midiio.h"
#include "musicmaker/songops.h"

namespace kivra {

namespace {

bool Recording() {
    const RecorderPort* recorder = GetRecorderPort();
    return recorder && recorder->RecordChecked();
}

int BaseOctave() {
    const PianoPort* piano = GetPianoPort();
    return piano ? piano->BaseOctave() : 4;
}

// The note a stored value plays: relative values ride on the base octave.
int NoteOf(const KeyMapEntry& entry, std::uint8_t value) {
    return entry.Action == kActionPlayRelative ? value + (BaseOctave() + 1) * 12 : value;
}

void PlayKey(int vk, const KeyMapEntry& entry, bool press) {
    auto& down = g_bKeyDown[static_cast<std::size_t>(vk)];
    if (press && down) return;  // auto-repeat
    if (press) {
        for (const std::uint8_t value : entry.Notes) {
            const int note = NoteOf(entry, value);
            if (note >= 0 && note <= 127) PressNote(NoteSource::ComputerKey, vk, note, PlayVelocity(), PlayChannel());
        }
    } else {
        ReleaseKey(NoteSource::ComputerKey, vk);
    }
    down = press;
}

}  // namespace

bool KeyAction(int vk, bool press) {
    if (vk < 0 || vk > 255) return false;
    const KeyMapEntry& entry = g_KeyMap[static_cast<std::size_t>(vk)];
    switch (entry.Action) {
    case kActionPlayRelative:
    case kActionPlaySpecific:
        PlayKey(vk, entry, press);
        return true;
    case kActionInsertSpace:
        if (press && Recording()) InsertSpace();
        return true;
    case kActionInsertBreak:
        if (press && Recording()) InsertBreak();
        return true;
    case kActionDeleteNote:
        if (press && Recording()) DeleteStepAtCursor();
        return true;
    default:
        return false;
    }
}

void ReleaseHeldKeys() {
    for (int vk = 0; vk < 256; ++vk) {
        auto& down = g_bKeyDown[static_cast<std::size_t>(vk)];
        if (down) ReleaseKey(NoteSource::ComputerKey, vk);
        down = false;
    }
}

}  // namespace kivra
