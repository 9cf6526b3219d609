#include "midi/midiio.h"

#include "midi/notifier.h"

#include <algorithm>

namespace kivra {
namespace {

PianoPort* g_piano = nullptr;
RecorderPort* g_recorder = nullptr;
LinkPort* g_link = nullptr;

std::unique_ptr<MidiOutBackend> g_out;
std::unique_ptr<MidiInBackend> g_in;
std::unique_ptr<MidiNotifier> g_notifier;

bool InNoteRange(int note) { return note >= 0 && note <= 127; }

bool SendOut(std::uint32_t packed) { return g_out && g_out->Send(packed); }

void CopyToLink(std::uint32_t packed) {
    if (g_link && g_link->Connected()) g_link->SendMessage(packed);
}

}  // namespace

// Windows' shlwapi algorithm (HLSMAX 240, RGBMAX 255), integer arithmetic with its rounding.
namespace {
constexpr int kHlsMax = 240;
constexpr int kRgbMax = 255;

int HueToRgb(int n1, int n2, int hue) {
    if (hue < 0) hue += kHlsMax;
    if (hue > kHlsMax) hue -= kHlsMax;
    if (hue < kHlsMax / 6) return n1 + (((n2 - n1) * hue + (kHlsMax / 12)) / (kHlsMax / 6));
    if (hue < kHlsMax / 2) return n2;
    if (hue < (kHlsMax * 2) / 3)
        return n1 + (((n2 - n1) * (((kHlsMax * 2) / 3) - hue) + (kHlsMax / 12)) / (kHlsMax / 6));
    return n1;
}

std::uint8_t ToByte(int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, kRgbMax)); }
}  // namespace

Rgb ColorHLSToRGB(int hue, int luminance, int saturation) {
    hue = std::clamp(hue, 0, kHlsMax);
    luminance = std::clamp(luminance, 0, kHlsMax);
    saturation = std::clamp(saturation, 0, kHlsMax);
    if (saturation == 0) {
        const auto grey = ToByte((luminance * kRgbMax) / kHlsMax);
        return {grey, grey, grey};
    }
    int magic2 = luminance <= kHlsMax / 2
                     ? (luminance * (kHlsMax + saturation) + (kHlsMax / 2)) / kHlsMax
                     : luminance + saturation - ((luminance * saturation) + (kHlsMax / 2)) / kHlsMax;
    int magic1 = 2 * luminance - magic2;
    auto channel = [&](int h) { return ToByte((HueToRgb(magic1, magic2, h) * kRgbMax + (kHlsMax / 2)) / kHlsMax); };
    return {channel(hue + kHlsMax / 3), channel(hue), channel(hue - kHlsMax / 3)};
}

bool IsBlackKey(int note) {
    if (note < 0) return false;
    switch (note % 12) {
        case 1: case 3: case 6: case 8: case 10: return true;
        default: return false;
    }
}

Rgb KeyLightColour(int note, int velocity, int channel) {
    const int luminance = IsBlackKey(note) ? velocity : 240 - velocity;
    return ColorHLSToRGB((channel * 30) % 240, luminance, 240);
}

void SetPianoPort(PianoPort* port) { g_piano = port; }
void SetRecorderPort(RecorderPort* port) { g_recorder = port; }
void SetLinkPort(LinkPort* port) { g_link = port; }
PianoPort* GetPianoPort() { return g_piano; }
RecorderPort* GetRecorderPort() { return g_recorder; }
LinkPort* GetLinkPort() { return g_link; }

int PlayChannel() {
    if (g_piano && g_piano->DrumModeChecked()) return 9;
    if (g_recorder && g_recorder->RecordChecked()) return g_recorder->CurrentTrackChannel();
    return g_lChannel;
}

void SetMidiBackends(std::unique_ptr<MidiOutBackend> out, std::unique_ptr<MidiInBackend> in) {
    CloseMIDIDevices();
    g_out = std::move(out);
    g_in = std::move(in);
}
MidiOutBackend* OutBackend() { return g_out.get(); }
MidiInBackend* InBackend() { return g_in.get(); }

MidiNotifier& Notifier() {
    if (!g_notifier) g_notifier = std::make_unique<MidiNotifier>();
    return *g_notifier;
}

bool OpenMIDIOut(int device) { return g_out && g_out->Open(device, Notifier()); }
bool OpenMIDIIn(int device) { return g_in && g_in->Open(device, Notifier()); }

void CloseMIDIDevices() {
    if (g_out) g_out->Close();
    if (g_in) g_in->Close();
    // The output is no longer usable from here on; a notification still queued is dropped.
    g_bMidiOutOpen = false;
    if (g_notifier) g_notifier->Invalidate();
}

void ReleaseMidi() {
    CloseMIDIDevices();
    g_out.reset();
    g_in.reset();
    g_notifier.reset();
}

bool PlayNote(int note, int velocity, int channel) {
    if (!g_bMidiOutOpen || !InNoteRange(note)) return false;
    const auto packed = PackShortMessage(0x90 + channel, note, velocity);
    if (!SendOut(packed)) return false;
    if (!g_bNoteOn[note]) {
        ++g_lNotesDown;
        g_bNoteOn[note] = true;
    }
    if (g_piano) g_piano->ShowKey(note, KeyLightColour(note, velocity, channel), true);
    CopyToLink(packed);
    if (g_recorder && g_recorder->RecordChecked()) g_recorder->RecordNote(note);
    return true;
}

bool StopNote(int note, int channel) {
    if (!g_bMidiOutOpen || !InNoteRange(note)) return false;
    const auto packed = PackShortMessage(0x90 + channel, note, 0);
    if (!SendOut(packed)) return false;
    if (g_bNoteOn[note]) {
        --g_lNotesDown;
        g_bNoteOn[note] = false;
    }
    if (g_piano) g_piano->ShowKey(note, IsBlackKey(note) ? kBlack : kWhite, false);
    CopyToLink(packed);
    return true;
}

bool SendPitchBend(int value, int channel) {
    if (!g_bMidiOutOpen) return false;
    // Two's-complement masks: only the low 14 bits of the value reach the message.
    const auto packed = PackShortMessage(0xE0 + channel, value & 127, (value / 128) & 127);
    if (!SendOut(packed)) return false;
    CopyToLink(packed);
    return true;
}

bool SetPatch(int patch, int channel) {
    if (!g_bMidiOutOpen) return false;
    const auto packed = PackShortMessage(0xC0 + channel, patch & 127);
    if (!SendOut(packed)) return false;
    if (channel == g_lChannel && g_piano) g_piano->SelectPatchRow(patch);
    CopyToLink(packed);
    return true;
}

bool SendMIDIMessage(std::uint32_t message) {
    if (!g_bMidiOutOpen) return false;
    return SendOut(message);
}

void ResetNoteState() {
    g_bNoteOn.fill(false);
    g_lNotesDown = 0;
    g_lChannel = 0;
    g_bMidiOutOpen = false;
}

}  // namespace kivra
