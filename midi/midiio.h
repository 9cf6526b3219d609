#pragma once
// Note routing: the only place where MIDI leaves the program. Every note source (mouse, computer
// keyboard, MIDI input, playback) plays through PlayNote and StopNote, which send the message,
// keep the per-note flags, light the key, copy to the link and feed the recorder.
// Everything here runs on the UI thread only, but SendFromAnyThread.

#include "midi/backends/backend.h"
#include "midi/message.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace kivra {

class MidiNotifier;

// ---- Program-wide state -------------------------------------------------------------------
inline bool g_bMidiOutOpen = false;          // true once the output's "opened" notification was handled
// True while the output loads in the background (the built-in synthesizer's SoundFont): notes
// play as if it were open but are only remembered, and the held ones sound once it has opened.
inline bool g_bMidiOutLoading = false;
inline int g_lChannel = 0;                   // the piano's own channel; only the link changes it
inline std::array<bool, 128> g_bNoteOn{};    // note started and not released, on any channel
inline int g_lNotesDown = 0;                 // number of set flags in g_bNoteOn

// 24-bit colour as 8-bit red, green and blue.
struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};
inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kBlack{0, 0, 0};

// Hue, luminance and saturation on the 0..240 scale to RGB, with the platform's integer rounding.
Rgb ColorHLSToRGB(int hue, int luminance, int saturation);

// The colour of a lit key: hue from the channel, luminance from the velocity.
Rgb KeyLightColour(int note, int velocity, int channel);

bool IsBlackKey(int note);

// The note's name as the key layout counts octaves, UTF-8: 60 is "C4", 61 "C♯4", 0 "C-1".
std::string NoteName(int note);

// ---- What the entry points reach ----------------------------------------------------------
// The piano window: key lights, the instrument list and the controls every note source reads.
class PianoPort {
public:
    virtual ~PianoPort() = default;
    virtual void ShowKey(int note, Rgb colour, bool pressed) = 0;
    // Selects every instrument row carrying `patch`; leaves the list alone when none does.
    virtual void SelectPatchRow(int patch) = 0;
    virtual bool DrumModeChecked() const = 0;
    virtual int BaseOctave() const = 0;  // -1..9
    // Selects the row carrying `patch` and sends it on the play channel (Record on: the track's).
    virtual void UpdateInstrument(int patch) = 0;
    // Recording on disables Key Config, MIDI Devices, Drum Mode and ZuduvIvev; off enables them.
    virtual void SetRecordingLock(bool recording) = 0;
    // Rewrites the key captions from the key map and the base octave.
    virtual void UpdateCaptions() = 0;
};

// The Music Maker's Record box and its recorder.
class RecorderPort {
public:
    virtual ~RecorderPort() = default;
    virtual bool RecordChecked() const = 0;
    virtual int CurrentTrackChannel() const = 0;  // Channel of g_Tracks(g_lCurTrack)
    virtual void RecordNote(int note, int velocity) = 0;
};

// The link's socket.
class LinkPort {
public:
    virtual ~LinkPort() = default;
    virtual bool Connected() const = 0;
    virtual void SendMessage(std::uint32_t packed) = 0;
};

// Registered by whoever implements them; null means absent (no window, not recording, not connected).
void SetPianoPort(PianoPort* port);
void SetRecorderPort(RecorderPort* port);
void SetLinkPort(LinkPort* port);
PianoPort* GetPianoPort();
RecorderPort* GetRecorderPort();
LinkPort* GetLinkPort();

// Drum Mode gives 9; otherwise the current track's channel while recording; otherwise g_lChannel.
int PlayChannel();

// The velocity of notes played with the mouse and the computer keyboard: 1..127, 100 unless the
// player chose another ([Playing] Velocity). With touch velocity on ([Playing] TouchVelocity, off
// unless chosen) a mouse press near the front of a key is louder than one near its back.
inline constexpr int kDefaultVelocity = 100;
int PlayVelocity();
void SetPlayVelocity(int velocity);  // clamped to 1..127
bool TouchVelocity();
void SetTouchVelocity(bool on);

// ---- Devices -------------------------------------------------------------------------------
// The backends the program plays through; set once at start-up (tests install fakes).
void SetMidiBackends(std::unique_ptr<MidiOutBackend> out, std::unique_ptr<MidiInBackend> in);
MidiOutBackend* OutBackend();
MidiInBackend* InBackend();
MidiNotifier& Notifier();  // created on first use; lives until ReleaseMidi

bool OpenMIDIOut(int device);
// The output's "opened" notification: the output is usable, and the notes still held from
// while it loaded are sent now.
void OutputOpened();
// The output that was loading could not be opened: it is closed and every note forgotten.
void OutputFailed();
bool OpenMIDIIn(int device);
// While the output is open, first releases every note that sounds (peers' too) and sends
// all-notes-off on every channel that played; then closes both devices and forgets every note.
void CloseMIDIDevices();
// Drops the backends and the notifier (end of program or of a test).
void ReleaseMidi();

// ---- Send operations: true when the device took the message ------------------------------
bool PlayNote(int note, int velocity, int channel);
// Keeps the key lit while another channel still sounds the note for one of the piano's sources.
bool StopNote(int note, int channel);
bool SendPitchBend(int value, int channel);
bool SetPatch(int patch, int channel);
// Plays a peer's message. Its notes light no key and count in no flag, but a note-off (or
// all-notes-off) that ends one of the piano's own notes clears that note's flag and key.
bool SendMIDIMessage(std::uint32_t message);
// A controller, pressure, program or pitch-bend message that one of the piano's own sources plays
// (a pedal key, the MIDI input): sent as SendMIDIMessage does, and copied to the link.
bool SendControl(std::uint32_t message);

// The two halves of PlayNote and StopNote, for playback's own thread: the thread sends, the UI
// thread keeps the rest, in the order the messages went out.
// Sends one packed message to the output and nothing else; callable from any thread.
bool SendFromAnyThread(std::uint32_t packed);
// A note-on or note-off (a note-on with velocity 0) that went out through SendFromAnyThread: keeps
// the record of what sounds and the flags, lights or clears the key, copies it to the link and,
// for a note-on, feeds the recorder, as PlayNote and StopNote do. UI thread.
void NoteSent(std::uint32_t packed);

// ---- Held keys -----------------------------------------------------------------------------
// A key of a note source remembers the notes it started and their channel, so that its release
// stops exactly those, whatever the play channel, the base octave or Drum Mode are by then.
enum class NoteSource { Mouse, ComputerKey, MidiInput };

// PlayNote; when it sounds, the note and channel are remembered for `key` of `source`.
bool PressNote(NoteSource source, int key, int note, int velocity, int channel);
// StopNote for every note the key started, on the channel it started on; then forgets them.
void ReleaseKey(NoteSource source, int key);
// The channel the key's first held note sounds on, or -1 when it holds none.
int HeldChannel(NoteSource source, int key);

// ---- What sounds at the output -------------------------------------------------------------
// Every note and every channel that went out since the output opened, whoever sent it.
bool IsSounding(int note, int channel);
// Stops every note the piano's own sources started that still sounds, on whatever channel.
void StopSoundingNotes();
// The output is gone: nothing sounds, no flag is set, no key is lit, no key holds a note.
void ForgetSoundingNotes();

// Resets the program-wide note state (start of a test).
void ResetNoteState();

}  // namespace kivra
