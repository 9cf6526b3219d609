#include "keyboard/keymap.h"

#include "formats/filestream.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>

namespace kivra {

namespace {

QString& InstalledDir() {
    static QString dir;
    return dir;
}

const QString kExtension = QStringLiteral(".kmp");
const QString kTempSuffix = QStringLiteral(".tmp");

// Unshifted characters of the US layout, by virtual-key number; 0 where the key has none.
constexpr std::array<char, 256> MakeKeyChars() {
    std::array<char, 256> c{};
    c[0x20] = ' ';
    for (int i = 0; i < 10; ++i) c[static_cast<std::size_t>(0x30 + i)] = static_cast<char>('0' + i);
    for (int i = 0; i < 26; ++i) c[static_cast<std::size_t>(0x41 + i)] = static_cast<char>('A' + i);
    for (int i = 0; i < 10; ++i) c[static_cast<std::size_t>(0x60 + i)] = static_cast<char>('0' + i);
    c[0x6A] = '*';
    c[0x6B] = '+';
    c[0x6D] = '-';
    c[0x6E] = '.';
    c[0x6F] = '/';
    c[0xBA] = ';';
    c[0xBB] = '=';
    c[0xBC] = ',';
    c[0xBD] = '-';
    c[0xBE] = '.';
    c[0xBF] = '/';
    c[0xC0] = '`';
    c[0xDB] = '[';
    c[0xDC] = '\\';
    c[0xDD] = ']';
    c[0xDE] = '\'';
    c[0xE2] = '\\';
    return c;
}
constexpr std::array<char, 256> kKeyChars = MakeKeyChars();

// The US key at each position of the letter, digit and punctuation block, by X11 keycode; 0 elsewhere.
constexpr std::array<std::uint8_t, 256> MakeKeyAtScan() {
    std::array<std::uint8_t, 256> k{};
    const auto row = [&k](std::size_t first, const char* keys) {
        for (std::size_t i = 0; keys[i] != 0; ++i) k[first + i] = static_cast<std::uint8_t>(keys[i]);
    };
    row(10, "1234567890");
    row(24, "QWERTYUIOP");
    row(38, "ASDFGHJKL");
    row(52, "ZXCVBNM");
    k[49] = 0xC0;  // `
    k[20] = 0xBD;  // -
    k[21] = 0xBB;  // =
    k[34] = 0xDB;  // [
    k[35] = 0xDD;  // ]
    k[47] = 0xBA;  // ;
    k[48] = 0xDE;  // '
    k[51] = 0xDC;  // backslash
    k[59] = 0xBC;  // ,
    k[60] = 0xBE;  // .
    k[61] = 0xBF;  // /
    k[94] = 0xE2;  // the extra key left of Z on ISO keyboards
    return k;
}
constexpr std::array<std::uint8_t, 256> kKeyAtScan = MakeKeyAtScan();

constexpr std::array<std::uint8_t, 256> MakeScanOfKey() {
    std::array<std::uint8_t, 256> s{};
    for (std::size_t scan = 0; scan < kKeyAtScan.size(); ++scan)
        if (kKeyAtScan[scan] != 0) s[kKeyAtScan[scan]] = static_cast<std::uint8_t>(scan);
    return s;
}
constexpr std::array<std::uint8_t, 256> kScanOfKey = MakeScanOfKey();

KeyboardLayout& Layout() {
    static KeyboardLayout layout{};
    return layout;
}

// Stops a load with a reason and the offset where it stopped.
ProfileLoad Stop(ProfileLoad r, ProfileLoad::Status status, std::int32_t offset, const char* why) {
    r.status = status;
    r.offset = offset;
    r.reason = QCoreApplication::translate("KeyMaps", "%1 at byte %2").arg(QCoreApplication::translate("KeyMaps", why)).arg(offset);
    return r;
}

QString ProfileFileIn(const QString& dir, const QString& name) { return dir + QLatin1Char('/') + name + kExtension; }

}  // namespace

void ClearKeyMap(KeyMap& map) {
    for (auto& entry : map) entry = KeyMapEntry{};
}

QString GetKeyName(int vk) {
    if (vk < 0 || vk > 255) return QStringLiteral("?");
    const KeyboardLayout& layout = Layout();
    const auto latin = [](char32_t c) { return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z'); };
    if (vk >= 'A' && vk <= 'Z' && std::ranges::find(layout, static_cast<char32_t>(vk + 'a' - 'A')) != layout.end())
        return QString(QLatin1Char(static_cast<char>(vk)));
    // Otherwise the key at the US position gives vk, unless it types a Latin letter (then that letter's).
    if (const std::uint32_t scan = kScanOfKey[static_cast<std::size_t>(vk)]; scan != 0) {
        const char32_t c = layout[scan];
        // One character, as the key's label shows it: "ß" stays "ß".
        if (c != 0 && !latin(c)) {
            const char32_t upper = QChar::toUpper(c);
            return QString::fromUcs4(&upper, 1);
        }
    }
    const char c = kKeyChars[static_cast<std::size_t>(vk)];
    return c ? QString(QLatin1Char(c)) : QStringLiteral("?");
}

void SetKeyboardLayout(const KeyboardLayout& layout) { Layout() = layout; }

int VirtualKeyFromQt(int qtKey, bool keypad, std::uint32_t nativeScanCode) {
    const bool latinLetter = qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z;
    if (!keypad && !latinLetter && nativeScanCode < kKeyAtScan.size() && kKeyAtScan[nativeScanCode] != 0)
        return kKeyAtScan[nativeScanCode];
    if (keypad) {
        if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return 0x60 + (qtKey - Qt::Key_0);
        switch (qtKey) {
        case Qt::Key_Asterisk: return 0x6A;
        case Qt::Key_Plus: return 0x6B;
        case Qt::Key_Minus: return 0x6D;
        case Qt::Key_Period: case Qt::Key_Comma: case Qt::Key_Delete: return 0x6E;
        case Qt::Key_Slash: return 0x6F;
        case Qt::Key_Enter: return 0x0D;
        case Qt::Key_Insert: return 0x60;
        case Qt::Key_End: return 0x61;
        case Qt::Key_Down: return 0x62;
        case Qt::Key_PageDown: return 0x63;
        case Qt::Key_Left: return 0x64;
        case Qt::Key_Clear: return 0x65;
        case Qt::Key_Right: return 0x66;
        case Qt::Key_Home: return 0x67;
        case Qt::Key_Up: return 0x68;
        case Qt::Key_PageUp: return 0x69;
        default: break;
        }
    }
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return 0x41 + (qtKey - Qt::Key_A);
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return 0x30 + (qtKey - Qt::Key_0);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return 0x70 + (qtKey - Qt::Key_F1);
    switch (qtKey) {
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Tab: case Qt::Key_Backtab: return 0x09;
    case Qt::Key_Clear: return 0x0C;
    case Qt::Key_Return: case Qt::Key_Enter: return 0x0D;
    // X11 keycodes 62, 105 and 108 are the right-hand Shift, Ctrl and Alt.
    case Qt::Key_Shift: return nativeScanCode == 62 ? 0xA1 : 0xA0;
    case Qt::Key_Control: return nativeScanCode == 105 ? 0xA3 : 0xA2;
    case Qt::Key_Alt: return nativeScanCode == 108 ? 0xA5 : 0xA4;
    case Qt::Key_AltGr: return 0xA5;
    case Qt::Key_Pause: return 0x13;
    case Qt::Key_CapsLock: return 0x14;
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_Space: return 0x20;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Select: return 0x29;
    case Qt::Key_Print: case Qt::Key_SysReq: return 0x2C;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    case Qt::Key_Help: return 0x2F;
    case Qt::Key_Meta: case Qt::Key_Super_L: return 0x5B;
    case Qt::Key_Super_R: return 0x5C;
    case Qt::Key_Menu: return 0x5D;
    case Qt::Key_Sleep: return 0x5F;
    case Qt::Key_NumLock: return 0x90;
    case Qt::Key_ScrollLock: return 0x91;
    case Qt::Key_VolumeMute: return 0xAD;
    case Qt::Key_VolumeDown: return 0xAE;
    case Qt::Key_VolumeUp: return 0xAF;
    case Qt::Key_MediaNext: return 0xB0;
    case Qt::Key_MediaPrevious: return 0xB1;
    case Qt::Key_MediaStop: return 0xB2;
    case Qt::Key_MediaPlay: case Qt::Key_MediaTogglePlayPause: return 0xB3;
    // Punctuation, shifted or not, names the US-layout key that carries it.
    case Qt::Key_Exclam: return 0x31;
    case Qt::Key_At: return 0x32;
    case Qt::Key_NumberSign: return 0x33;
    case Qt::Key_Dollar: return 0x34;
    case Qt::Key_Percent: return 0x35;
    case Qt::Key_AsciiCircum: return 0x36;
    case Qt::Key_Ampersand: return 0x37;
    case Qt::Key_Asterisk: return 0x38;
    case Qt::Key_ParenLeft: return 0x39;
    case Qt::Key_ParenRight: return 0x30;
    case Qt::Key_Semicolon: case Qt::Key_Colon: return 0xBA;
    case Qt::Key_Equal: case Qt::Key_Plus: return 0xBB;
    case Qt::Key_Comma: case Qt::Key_Less: return 0xBC;
    case Qt::Key_Minus: case Qt::Key_Underscore: return 0xBD;
    case Qt::Key_Period: case Qt::Key_Greater: return 0xBE;
    case Qt::Key_Slash: case Qt::Key_Question: return 0xBF;
    case Qt::Key_QuoteLeft: case Qt::Key_AsciiTilde: return 0xC0;
    case Qt::Key_BracketLeft: case Qt::Key_BraceLeft: return 0xDB;
    case Qt::Key_Backslash: case Qt::Key_Bar: return 0xDC;
    case Qt::Key_BracketRight: case Qt::Key_BraceRight: return 0xDD;
    case Qt::Key_Apostrophe: case Qt::Key_QuoteDbl: return 0xDE;
    default: return 0;
    }
}

// ---- Profiles --------------------------------------------------------------------------------

void SetInstalledProfilesDir(const QString& dir) { InstalledDir() = dir; }
QString InstalledProfilesDir() { return InstalledDir(); }
QString UserProfilesDir() {
    // ~/.local/share/Kivra/keymaps whatever organisation name the application carries.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Kivra/keymaps");
}

QStringList SavedProfileNames() {
    QStringList names;
    for (const QString& dir : {UserProfilesDir(), InstalledProfilesDir()}) {
        if (dir.isEmpty()) continue;
        const QFileInfoList files = QDir(dir).entryInfoList({QStringLiteral("*.kmp")}, QDir::Files | QDir::Readable);
        for (const QFileInfo& f : files) {
            const QString name = f.completeBaseName();
            if (IsValidProfileName(name) && !names.contains(name)) names << name;
        }
    }
    names.sort(Qt::CaseInsensitive);
    return names;
}

bool IsValidProfileName(const QString& name) {
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')) || name.contains(QStringLiteral(".."))) return false;
    for (const QChar ch : name) {
        if (ch.unicode() < 0x20 || ch.unicode() == 0x7F) return false;
        if (QStringLiteral("/\\<>:\"|?*").contains(ch)) return false;
    }
    // The temporary file name must fit the file system's 255-byte limit too.
    return QFile::encodeName(name + kExtension + kTempSuffix).size() <= 255;
}

ProfileLoad LoadKeyMapBytes(const QByteArray& bytes, KeyMap& map) {
    ProfileLoad r;
    const auto length = static_cast<std::int32_t>(std::min<qsizetype>(bytes.size(), kMaxProfileBytes));
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    if (length < 4 || bytes.left(4) != QByteArray("KMP\0", 4)) return Stop(r, ProfileLoad::BadMagic, 0, QT_TRANSLATE_NOOP("KeyMaps", "Not a key-map profile"));

    // Every chunk is checked against the length before its body is read, so the position only
    // moves forward and the loop ends at the end of the bytes.
    std::int32_t pos = 4;
    while (pos < length) {
        const std::int32_t start = pos;
        if (length - start < 8) return Stop(r, ProfileLoad::StoppedEarly, start, QT_TRANSLATE_NOOP("KeyMaps", "Chunk header cut short"));
        const QByteArray tag = bytes.mid(start, 4);
        const std::int32_t size = static_cast<std::int32_t>(data[start + 4] | data[start + 5] << 8 | data[start + 6] << 16 |
                                                            static_cast<std::uint32_t>(data[start + 7]) << 24);
        const std::int32_t body = start + 8;
        if (size < 0 || size > length - body) return Stop(r, ProfileLoad::StoppedEarly, start, QT_TRANSLATE_NOOP("KeyMaps", "Chunk size outside the file"));
        if (tag == "KAct") {
            // A longer body (not made by our writer) keeps its extra bytes unread: skipped by size.
            if (size < 2) return Stop(r, ProfileLoad::StoppedEarly, start, QT_TRANSLATE_NOOP("KeyMaps", "KAct chunk too short"));
            map[data[body]].Action = data[body + 1];
        } else if (tag == "KDat") {
            if (size < 2 || size > 256) return Stop(r, ProfileLoad::StoppedEarly, start, QT_TRANSLATE_NOOP("KeyMaps", "KDat size outside 2..256"));
            KeyMapEntry& entry = map[data[body]];
            entry.Notes.assign(data + body + 1, data + body + size);
            entry.NoteCount = static_cast<std::uint8_t>(size - 1);
        }
        pos = body + size;
        ++r.chunks;
    }
    r.status = ProfileLoad::Loaded;
    r.offset = pos;
    return r;
}

ProfileLoad LoadKeyMapFile(const QString& path, KeyMap& map) {
    ProfileLoad r;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        r.reason = QCoreApplication::translate("KeyMaps", "Cannot open %1").arg(path);
        return r;
    }
    if (file.size() > kMaxProfileBytes) {
        r.status = ProfileLoad::TooLarge;
        r.reason = QCoreApplication::translate("KeyMaps", "The file is %1 bytes long; a key-map profile is at most 1 MiB.").arg(file.size());
        return r;
    }
    // One read: the file may have grown since its size was taken, so never more than the limit.
    const QByteArray bytes = file.read(kMaxProfileBytes + 1);
    if (bytes.size() > kMaxProfileBytes) {
        r.status = ProfileLoad::TooLarge;
        r.reason = QCoreApplication::translate(
            "KeyMaps", "The file grew past 1 MiB while it was read; a key-map profile is at most 1 MiB.");
        return r;
    }
    return LoadKeyMapBytes(bytes, map);
}

ProfileLoad LoadKeyMap(const QString& name, KeyMap& map) {
    if (!IsValidProfileName(name)) {
        ProfileLoad r;
        r.reason = QCoreApplication::translate("KeyMaps", "Not a profile name: %1").arg(name);
        return r;
    }
    ProfileLoad r;
    for (const QString& dir : {UserProfilesDir(), InstalledProfilesDir()}) {
        if (dir.isEmpty()) continue;
        r = LoadKeyMapFile(ProfileFileIn(dir, name), map);
        if (r.status != ProfileLoad::NotFound) return r;
    }
    return r;
}

ProfileLoad LoadKeyMap(const QString& name) { return LoadKeyMap(name, g_KeyMap); }

bool SaveKeyMapFile(const QString& path, const KeyMap& map) {
    // A write-only, truncating stream replaces the file atomically: the old profile stays whole
    // unless every write and the commit succeed.
    FileStream fs;
    fs.flags(QStringLiteral("w"));
    if (!fs.OpenFile(path, true)) return false;
    bool ok = fs.WriteString(QString::fromLatin1("KMP\0", 4));
    for (int k = 0; k < 256 && ok; ++k) {
        const KeyMapEntry& e = map[static_cast<std::size_t>(k)];
        if (e.Action == kActionNone) continue;
        ok = fs.WriteString(QStringLiteral("KAct")) && fs.WriteLong(2) && fs.WriteByte(static_cast<std::uint8_t>(k)) &&
             fs.WriteByte(e.Action);
        // NoteCount is one byte, so a KDat body of 1 + NoteCount always fits its 2..256 limit.
        if (ok && !e.Notes.empty()) {
            const std::vector<std::uint8_t> notes(e.Notes.begin(), e.Notes.begin() + std::min<std::size_t>(e.Notes.size(), 255));
            ok = fs.WriteString(QStringLiteral("KDat")) && fs.WriteLong(static_cast<std::int32_t>(notes.size()) + 1) &&
                 fs.WriteByte(static_cast<std::uint8_t>(k)) && fs.WriteByteArray(notes);
        }
    }
    return ok && fs.CloseFile();
}

bool SaveKeyMap(const QString& name, const KeyMap& map) {
    if (!IsValidProfileName(name)) return false;
    const QString dir = UserProfilesDir();
    if (!QDir().mkpath(dir)) return false;
    return SaveKeyMapFile(ProfileFileIn(dir, name), map);
}

}  // namespace kivra
