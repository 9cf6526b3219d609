#include "keyboard/keyactions.h"

#include "keyboard/keymap.h"
#include "midi/midiio.h"
#include "musicmaker/songops.h"

#include <utility>

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

// The channel each key holds the sustain pedal down on, -1 where it does not.
std::array<int, 256> g_pedalChannel = [] {
    std::array<int, 256> none{};
    none.fill(-1);
    return none;
}();

constexpr int kSustainController = 64;

void LiftPedal(int vk) {
    const int channel = std::exchange(g_pedalChannel[static_cast<std::size_t>(vk)], -1);
    if (channel >= 0) SendControl(PackShortMessage(kControlChangeStatus + channel, kSustainController, 0));
}

void PedalKey(int vk, bool press) {
    auto& down = g_bKeyDown[static_cast<std::size_t>(vk)];
    if (press && down) return;  // auto-repeat
    if (press) {
        const int channel = PlayChannel();
        g_pedalChannel[static_cast<std::size_t>(vk)] = channel;
        SendControl(PackShortMessage(kControlChangeStatus + channel, kSustainController, 127));
    } else {
        LiftPedal(vk);
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
    case kActionSustainPedal:
        PedalKey(vk, press);
        return true;
    default:
        return false;
    }
}

void ReleaseHeldKeys() {
    for (int vk = 0; vk < 256; ++vk) {
        auto& down = g_bKeyDown[static_cast<std::size_t>(vk)];
        if (down) ReleaseKey(NoteSource::ComputerKey, vk);
        LiftPedal(vk);
        down = false;
    }
}

}  // namespace kivra
