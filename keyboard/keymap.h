#pragma once
// The key map: what each computer key does in the piano window, indexed by Windows virtual-key
// number (so a profile moves between platforms unchanged), the key names shown on captions, and
// the key-map profile files. Core: no widgets. Called on the UI thread only.

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <vector>

namespace kivra {

// Action codes of a KeyMapEntry.
enum KeyAction : std::uint8_t {
    kActionNone = 0,
    kActionPlayRelative = 1,   // "Play Note(s) Relative To Base Octave"
    kActionPlaySpecific = 2,   // "Play Specific Note(s)"
    kActionInsertSpace = 3,    // "Insert Space In Music Maker"
    kActionInsertBreak = 4,    // "Insert Break in Music Maker"
    kActionDeleteNote = 5,     // "Delete Note in Music Maker"
    kActionSustainPedal = 6,   // "Sustain Pedal"
};

struct KeyMapEntry {
    std::uint8_t Action = kActionNone;
    std::uint8_t NoteCount = 0;       // always Notes.size()
    std::vector<std::uint8_t> Notes;  // offsets (action 1) or note numbers (action 2), 0..255 from files
    friend bool operator==(const KeyMapEntry&, const KeyMapEntry&) = default;
};

using KeyMap = std::array<KeyMapEntry, 256>;

// The active key map, read by the key actions at every press and release.
inline KeyMap g_KeyMap{};

// Sets every entry to action 0 with no notes.
void ClearKeyMap(KeyMap& map);

// ---- Keyboard layouts -------------------------------------------------------------------------
// Keys are known by the native scan code of their events: on X11 the keycode (Linux input code + 8);
// 0 where the platform gives none (the offscreen platform), and then the Qt key alone decides.

// What each key types without modifiers in the user's layout, by scan code; 0 where unknown, or
// where the key types nothing (a dead key).
using KeyboardLayout = std::array<char32_t, 256>;
// The layout that key names follow; all 0 (the default) gives the US names.
void SetKeyboardLayout(const KeyboardLayout& layout);

// Display name of a key, as the user's layout labels the key that gives `vk` (see VirtualKeyFromQt),
// upper-cased: "A", "1", ";", " " for Space; "Я" for the Z key on a Russian layout, "Ö" for the
// semicolon key on a German one. The US character where the layout is unknown; "?" for keys
// without a printable character (F1, arrows, Shift, Enter...).
QString GetKeyName(int vk);

// Windows virtual-key number of a key event, 0 when it has none. A key that types a Latin letter
// is that letter's key, wherever it sits (Z on a German layout is the key right of T). Every other
// key that sits where a US keyboard has a letter, digit or punctuation key is that US key, found by
// `nativeScanCode` (the Cyrillic Я key is Z, the German Ö key is the semicolon key). The rest, and
// every key when the scan code is 0, by the Qt key: shifted punctuation maps back to its US key
// (Qt::Key_Exclam -> the 1 key); `keypad` selects the numeric pad codes; the scan code tells left
// from right Shift, Ctrl and Alt.
int VirtualKeyFromQt(int qtKey, bool keypad, std::uint32_t nativeScanCode = 0);

// ---- Profiles --------------------------------------------------------------------------------
// A profile "name" is the file <folder>/name.kmp. Profiles are read from the per-user folder
// (~/.local/share/Kivra/keymaps), then from the installed folder; saved to the per-user folder.

// The folder of the profiles installed with the program (set once at start-up).
void SetInstalledProfilesDir(const QString& dir);
QString InstalledProfilesDir();
QString UserProfilesDir();

// Names of the profiles in both folders, sorted, without duplicates.
QStringList SavedProfileNames();

// A name the program accepts: not empty, no path separator, no "..", no leading dot, no control
// character, none of < > : " | ? * (refused by some file systems), and short enough for a file name.
bool IsValidProfileName(const QString& name);

// Profiles are a few kilobytes at most; a larger file is not read at all.
inline constexpr std::int64_t kMaxProfileBytes = 1 << 20;

// How far a load got. Loading is total: any file gives a result and never loops.
struct ProfileLoad {
    enum Status {
        Loaded,         // read to the end of the file
        NotFound,       // no such profile / the file does not open or read
        TooLarge,       // larger than kMaxProfileBytes: nothing read, nothing loaded
        BadMagic,       // shorter than 4 bytes or not "KMP\0": nothing loaded
        StoppedEarly,   // a chunk could not be trusted; chunks before it were loaded
    };
    Status status = NotFound;
    int chunks = 0;         // chunks applied
    std::int32_t offset = 0;  // byte offset where reading stopped
    QString reason;         // readable explanation when not Loaded
    bool Opened() const { return status == Loaded || status == StoppedEarly; }
};

// Reads the profile `bytes` into `map`, setting only the fields its chunks name.
ProfileLoad LoadKeyMapBytes(const QByteArray& bytes, KeyMap& map);
// The same for the file at `path`, read in one call. Never creates or changes a file.
ProfileLoad LoadKeyMapFile(const QString& path, KeyMap& map);
// Finds profile `name` (user folder, then installed folder) and loads it into `map`.
ProfileLoad LoadKeyMap(const QString& name, KeyMap& map);
// Start-up: loads profile `name` into g_KeyMap on top of what it holds.
ProfileLoad LoadKeyMap(const QString& name);

// Writes `map` to `path`: magic "KMP\0", then for each key 0..255 with an action a "KAct" chunk
// and, when it has notes, a "KDat" chunk; through a temporary file beside it that replaces it only when every
// write succeeded; on failure the file that was there is untouched and the temporary is removed.
bool SaveKeyMapFile(const QString& path, const KeyMap& map);
// Saves under `name` in the user folder (created when missing). False for a refused name or any
// failure; then nothing is written anywhere.
bool SaveKeyMap(const QString& name, const KeyMap& map);

}  // namespace kivra
