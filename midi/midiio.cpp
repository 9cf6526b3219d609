#include "midi/midiio.h"

#include "midi/notifier.h"
#include "midi/sound.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace kivra {
namespace {

PianoPort* g_piano = nullptr;
RecorderPort* g_recorder = nullptr;
LinkPort* g_link = nullptr;

// The notifier is declared first so that it goes last: a backend still loading at exit may post.
std::unique_ptr<MidiNotifier> g_notifier;
std::unique_ptr<MidiOutBackend> g_out;
// Playback's thread sends too: the output is used, replaced and closed under this lock.
std::mutex g_outLock;
std::unique_ptr<MidiInBackend> g_in;

bool InNoteRange(int note) { return note >= 0 && note <= 127; }

// What sounds at the output, by channel and note: velocity 0 is silent; `own` marks a note that
// one of the piano's sources started (those light keys and count in g_bNoteOn).
struct Sounding {
    std::uint8_t velocity = 0;
    bool own = false;
};
std::array<std::array<Sounding, 128>, 16> g_sounding{};
std::uint16_t g_channelsUsed = 0;  // a bit per channel that a note-on went out on

struct HeldNote {
    NoteSource source;
    int key, channel, note;
};
std::vector<HeldNote> g_held;

constexpr std::uint8_t kAllSoundOff = 120, kAllNotesOff = 123;

// Keeps the record from one message that the device took.
void Track(std::uint32_t packed, bool own) {
    const unsigned kind = StatusKind(packed & 0xFFu), channel = packed & 0x0Fu;
    const unsigned data1 = (packed >> 8) & 0x7Fu, data2 = (packed >> 16) & 0x7Fu;
    auto& row = g_sounding[channel];
    if (kind == kNoteOnStatus && data2 > 0) {
        Sounding& s = row[data1];
        s.own = own || (s.velocity > 0 && s.own);
        s.velocity = static_cast<std::uint8_t>(data2);
        g_channelsUsed = static_cast<std::uint16_t>(g_channelsUsed | (1u << channel));
    } else if (kind == kNoteOnStatus || kind == kNoteOffStatus) {
        row[data1] = {};
    } else if (kind == kControlChangeStatus && (data1 == kAllSoundOff || data1 >= kAllNotesOff)) {
        row.fill({});  // all sound off, all notes off and the mode messages end every note
    }
}

bool SendOut(std::uint32_t packed, bool own = true) {
    if (!g_bMidiOutLoading && !SendFromAnyThread(packed)) return false;
    Track(packed, own);
    return true;
}

// The channel whose own note lights key `note` (the lowest), or -1; g_bNoteOn and the count follow.
int UpdateFlag(int note) {
    int lit = -1;
    for (int c = 0; c < 16 && lit < 0; ++c)
        if (g_sounding[static_cast<std::size_t>(c)][static_cast<std::size_t>(note)].own) lit = c;
    bool& flag = g_bNoteOn[static_cast<std::size_t>(note)];
    if (flag != (lit >= 0)) {
        flag = lit >= 0;
        g_lNotesDown += flag ? 1 : -1;
    }
    return lit;
}

void ShowLit(int note, int channel) {
    if (!g_piano) return;
    if (channel < 0) {
        g_piano->ShowKey(note, IsBlackKey(note) ? kBlack : kWhite, false);
    } else {
        const int velocity = g_sounding[static_cast<std::size_t>(channel)][static_cast<std::size_t>(note)].velocity;
        g_piano->ShowKey(note, KeyLightColour(note, velocity, channel), true);
    }
}

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

std::string NoteName(int note) {
    static constexpr const char* kNames[] = {"C", "C♯", "D", "D♯", "E", "F", "F♯", "G", "G♯", "A", "A♯", "B"};
    const int pitch = ((note % 12) + 12) % 12;
    return kNames[pitch] + std::to_string((note - pitch) / 12 - 1);
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

namespace {
int g_playVelocity = kDefaultVelocity;
bool g_touchVelocity = false;
}  // namespace

int PlayVelocity() { return g_playVelocity; }
void SetPlayVelocity(int velocity) { g_playVelocity = std::clamp(velocity, 1, 127); }
bool TouchVelocity() { return g_touchVelocity; }
void SetTouchVelocity(bool on) { g_touchVelocity = on; }

void SetMidiBackends(std::unique_ptr<MidiOutBackend> out, std::unique_ptr<MidiInBackend> in) {
    CloseMIDIDevices();
    const std::lock_guard lock(g_outLock);
    g_out = std::move(out);
    g_in = std::move(in);
}
MidiOutBackend* OutBackend() { return g_out.get(); }
MidiInBackend* InBackend() { return g_in.get(); }

MidiNotifier& Notifier() {
    if (!g_notifier) g_notifier = std::make_unique<MidiNotifier>();
    return *g_notifier;
}

bool OpenMIDIOut(int device) {
    MidiNotifier& notifier = Notifier();
    const std::lock_guard lock(g_outLock);
    if (!g_out || !g_out->Open(device, notifier)) return false;
    g_bMidiOutLoading = g_out->LoadsInBackground();
    return true;
}

void OutputOpened() {
    g_bMidiOutOpen = true;
    // The volume the player chose reaches an external device too; untouched, the device keeps its own.
    if (const int volume = LoadSoundOptions().volume; volume != kDefaultVolume && g_out && !g_out->Controls())
        SendOut(ExternalVolumeMessage(volume), false);
    if (!std::exchange(g_bMidiOutLoading, false)) return;
    for (int c = 0; c < 16; ++c)
        for (int n = 0; n < 128; ++n)
            if (const auto v = g_sounding[static_cast<std::size_t>(c)][static_cast<std::size_t>(n)].velocity)
                SendFromAnyThread(PackShortMessage(kNoteOnStatus + c, n, v));
}

void OutputFailed() {
    g_bMidiOutOpen = g_bMidiOutLoading = false;
    {
        const std::lock_guard lock(g_outLock);
        if (g_out) g_out->Close();
    }
    ForgetSoundingNotes();
}
bool OpenMIDIIn(int device) { return g_in && g_in->Open(device, Notifier()); }

void CloseMIDIDevices() {
    if (g_bMidiOutOpen) {
        // Nothing may go on sounding on a device we stop talking to, an external synthesizer
        // above all: our notes end through StopNote (so the link hears them end too), the peers'
        // with a plain note-off, and all-notes-off catches what a refused message left behind.
        StopSoundingNotes();
        for (int c = 0; c < 16; ++c)
            for (int n = 0; n < 128; ++n)
                if (IsSounding(n, c)) SendOut(PackShortMessage(kNoteOnStatus + c, n), false);
        for (int c = 0; c < 16; ++c)
            if (g_channelsUsed & (1u << c)) SendOut(PackShortMessage(kControlChangeStatus + c, kAllNotesOff), false);
    }
    {
        const std::lock_guard lock(g_outLock);
        if (g_out) g_out->Close();
    }
    if (g_in) g_in->Close();
    // The output is no longer usable from here on; a notification still queued is dropped.
    g_bMidiOutOpen = g_bMidiOutLoading = false;
    if (g_notifier) g_notifier->Invalidate();
    ForgetSoundingNotes();
}

void ReleaseMidi() {
    CloseMIDIDevices();
    {
        const std::lock_guard lock(g_outLock);
        g_out.reset();
    }
    g_in.reset();
    g_notifier.reset();
}

bool SendFromAnyThread(std::uint32_t packed) {
    const std::lock_guard lock(g_outLock);
    return g_out && g_out->Send(packed);
}

// PlayNote's and StopNote's work after the device took the message.
static void NoteStarted(std::uint32_t packed) {
    const int note = static_cast<int>((packed >> 8) & 0x7Fu);
    UpdateFlag(note);
    if (g_piano)
        g_piano->ShowKey(note, KeyLightColour(note, static_cast<int>((packed >> 16) & 0xFFu), static_cast<int>(packed & 0x0Fu)),
                         true);
    CopyToLink(packed);
    if (g_recorder && g_recorder->RecordChecked()) g_recorder->RecordNote(note, static_cast<int>((packed >> 16) & 0x7Fu));
}

static void NoteStopped(std::uint32_t packed) {
    const int note = static_cast<int>((packed >> 8) & 0x7Fu);
    ShowLit(note, UpdateFlag(note));
    CopyToLink(packed);
}

void NoteSent(std::uint32_t packed) {
    Track(packed, true);
    if (packed >> 16) NoteStarted(packed);
    else NoteStopped(packed);
}

bool PlayNote(int note, int velocity, int channel) {
    if (!(g_bMidiOutOpen || g_bMidiOutLoading) || !InNoteRange(note)) return false;
    const auto packed = PackShortMessage(kNoteOnStatus + channel, note, velocity);
    if (!SendOut(packed)) return false;
    NoteStarted(packed);
    return true;
}

bool StopNote(int note, int channel) {
    if (!(g_bMidiOutOpen || g_bMidiOutLoading) || !InNoteRange(note)) return false;
    const auto packed = PackShortMessage(kNoteOnStatus + channel, note, 0);
    if (!SendOut(packed)) return false;
    NoteStopped(packed);
    return true;
}

bool SendPitchBend(int value, int channel) {
    if (!g_bMidiOutOpen) return false;
    // Two's-complement masks: only the low 14 bits of the value reach the message.
    const auto packed = PackShortMessage(kPitchBendStatus + channel, value & 127, (value / 128) & 127);
    if (!SendOut(packed)) return false;
    CopyToLink(packed);
    return true;
}

bool SetPatch(int patch, int channel) {
    if (!g_bMidiOutOpen) return false;
    const auto packed = PackShortMessage(kProgramChangeStatus + channel, patch & 127);
    if (!SendOut(packed)) return false;
    if (channel == g_lChannel && g_piano) g_piano->SelectPatchRow(patch);
    CopyToLink(packed);
    return true;
}

bool SendMIDIMessage(std::uint32_t message) {
    if (!g_bMidiOutOpen) return false;
    if (!SendOut(message, false)) return false;
    // Only the end of one of the piano's own notes shows: a peer's notes light nothing.
    const bool wholeChannel = StatusKind(message & 0xFFu) == kControlChangeStatus;
    const int first = wholeChannel ? 0 : static_cast<int>((message >> 8) & 0x7Fu);
    for (int n = first; n <= (wholeChannel ? 127 : first); ++n) {
        const bool before = g_bNoteOn[static_cast<std::size_t>(n)];
        const int lit = UpdateFlag(n);
        if (lit < 0 && before) ShowLit(n, lit);
    }
    return true;
}

bool SendControl(std::uint32_t message) {
    if (!SendMIDIMessage(message)) return false;
    CopyToLink(message);
    return true;
}

bool PressNote(NoteSource source, int key, int note, int velocity, int channel) {
    if (!PlayNote(note, velocity, channel)) return false;
    const auto same = [&](const HeldNote& h) {
        return h.source == source && h.key == key && h.channel == channel && h.note == note;
    };
    if (std::none_of(g_held.begin(), g_held.end(), same)) g_held.push_back({source, key, channel, note});
    return true;
}

void ReleaseKey(NoteSource source, int key) {
    const auto ofKey = [&](const HeldNote& h) { return h.source == source && h.key == key; };
    std::vector<HeldNote> released;
    std::copy_if(g_held.begin(), g_held.end(), std::back_inserter(released), ofKey);
    std::erase_if(g_held, ofKey);
    for (const HeldNote& h : released) StopNote(h.note, h.channel);
}

int HeldChannel(NoteSource source, int key) {
    const auto it = std::find_if(g_held.begin(), g_held.end(),
                                 [&](const HeldNote& h) { return h.source == source && h.key == key; });
    return it == g_held.end() ? -1 : it->channel;
}

bool IsSounding(int note, int channel) {
    return InNoteRange(note) && channel >= 0 && channel < 16 &&
           g_sounding[static_cast<std::size_t>(channel)][static_cast<std::size_t>(note)].velocity > 0;
}

void StopSoundingNotes() {
    for (int c = 0; c < 16; ++c)
        for (int n = 0; n < 128; ++n)
            if (g_sounding[static_cast<std::size_t>(c)][static_cast<std::size_t>(n)].own) StopNote(n, c);
}

void ForgetSoundingNotes() {
    for (int n = 0; n < 128; ++n)
        if (g_bNoteOn[static_cast<std::size_t>(n)]) ShowLit(n, -1);
    g_sounding = {};
    g_channelsUsed = 0;
    g_held.clear();
    g_bNoteOn.fill(false);
    g_lNotesDown = 0;
}

void ResetNoteState() {
    ForgetSoundingNotes();
    g_lChannel = 0;
    g_bMidiOutOpen = g_bMidiOutLoading = false;
    g_playVelocity = kDefaultVelocity;
    g_touchVelocity = false;
}

}  // namespace kivra
