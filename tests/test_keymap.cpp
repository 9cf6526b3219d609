#include "keyboard/keymap.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace kivra {
namespace {

const QString kData = QStringLiteral(KIVRA_TEST_DATA_DIR "/keyboard/");

QByteArray Bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
void Put(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}
KeyMapEntry Entry(std::uint8_t action, std::vector<std::uint8_t> notes = {}) {
    const auto count = static_cast<std::uint8_t>(notes.size());
    return KeyMapEntry{action, count, std::move(notes)};
}

class KeyMapTest : public ::testing::Test {
protected:
    void SetUp() override {
        QDir(UserProfilesDir()).removeRecursively();
        SetInstalledProfilesDir(installed.path());
    }
    void TearDown() override { QDir(UserProfilesDir()).removeRecursively(); }
    QTemporaryDir dir, installed;
    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
};

TEST_F(KeyMapTest, ExampleProfileByteForByteAndBack) {
    KeyMap map{};
    map[0x41] = Entry(1, {0, 4, 7});
    ASSERT_TRUE(SaveKeyMapFile(Path("a.kmp"), map));
    EXPECT_EQ(Bytes(Path("a.kmp")), Bytes(kData + "example26.kmp"));
    EXPECT_EQ(Bytes(Path("a.kmp")).size(), 26);
    KeyMap back{};
    EXPECT_EQ(LoadKeyMapFile(Path("a.kmp"), back).status, ProfileLoad::Loaded);
    EXPECT_EQ(back, map);
}

TEST_F(KeyMapTest, WriterSavesOnlyKeysWithAnActionAndNotesOnlyWhenThereAreAny) {
    KeyMap map{};
    map[0x20] = Entry(3);               // action, no notes: one KAct chunk
    map[0x42] = Entry(0, {1, 2});       // notes but no action: not saved
    map[0x10] = Entry(2, {60});
    map[0xFF] = Entry(9, {1, 2, 3});    // unknown action codes are kept as they are
    ASSERT_TRUE(SaveKeyMapFile(Path("b.kmp"), map));
    const QByteArray b = Bytes(Path("b.kmp"));
    EXPECT_EQ(b.size(), 4 + 10 * 3 + 9 * 2 + 4);
    EXPECT_EQ(b.toHex(' ').toUpper(),
              "4B 4D 50 00 4B 41 63 74 02 00 00 00 10 02 4B 44 61 74 02 00 00 00 10 3C "
              "4B 41 63 74 02 00 00 00 20 03 "
              "4B 41 63 74 02 00 00 00 FF 09 4B 44 61 74 04 00 00 00 FF 01 02 03");
    KeyMap back{};
    LoadKeyMapFile(Path("b.kmp"), back);
    map[0x42] = KeyMapEntry{};
    EXPECT_EQ(back, map);
}

TEST_F(KeyMapTest, ChunkOrderUnknownChunksAndMagicOnly) {
    KeyMap expected{};
    expected[0x41] = Entry(1, {0, 4, 7});
    for (const char* file : {"kdat-first.kmp", "unknown-chunk.kmp"}) {
        KeyMap map{};
        const ProfileLoad r = LoadKeyMapFile(kData + file, map);
        EXPECT_EQ(r.status, ProfileLoad::Loaded) << file;
        EXPECT_EQ(map, expected) << file;
    }
    // Loading sets only what the file names: other keys keep their entries.
    Put(Path("m.kmp"), QByteArray("KMP\0", 4));
    KeyMap map{};
    map[0x51] = Entry(4);
    EXPECT_EQ(LoadKeyMapFile(Path("m.kmp"), map).status, ProfileLoad::Loaded);
    EXPECT_EQ(map[0x51], Entry(4));
}

TEST_F(KeyMapTest, HostileFilesStopTheLoadKeepingWhatWasRead) {
    struct Case {
        const char* file;
        ProfileLoad::Status status;
        bool keptFirst;  // the chunk before the bad one was applied
    } cases[] = {{"bad-magic.kmp", ProfileLoad::BadMagic, false},
                 {"too-short.kmp", ProfileLoad::BadMagic, false},
                 {"kdat-size-1.kmp", ProfileLoad::StoppedEarly, true},
                 {"kdat-size-257.kmp", ProfileLoad::StoppedEarly, true},
                 {"negative-size.kmp", ProfileLoad::StoppedEarly, true},
                 {"size-past-end.kmp", ProfileLoad::StoppedEarly, true},
                 {"header-cut.kmp", ProfileLoad::StoppedEarly, true}};
    for (const Case& c : cases) {
        KeyMap map{};
        const ProfileLoad r = LoadKeyMapFile(kData + "invalid/" + c.file, map);
        EXPECT_EQ(r.status, c.status) << c.file;
        EXPECT_FALSE(r.reason.isEmpty()) << c.file;
        EXPECT_EQ(map[0x41].Action, c.keptFirst ? 1 : 0) << c.file;
        EXPECT_EQ(map[0x43].Action, 0) << c.file;  // nothing after the bad chunk
    }
    // Every truncated copy of the shipped profile loads a prefix of it and ends.
    const QByteArray full = Bytes(QStringLiteral(KIVRA_SOURCE_DATA_DIR "/keymaps/default.kmp"));
    for (int n = 0; n < full.size(); ++n) {
        Put(Path("cut.kmp"), full.left(n));
        KeyMap map{};
        const ProfileLoad r = LoadKeyMapFile(Path("cut.kmp"), map);
        EXPECT_LE(r.offset, n);
        EXPECT_NE(r.status, ProfileLoad::NotFound);
    }
}

TEST_F(KeyMapTest, LoadingNeverCreatesOrChangesAFile) {
    ASSERT_TRUE(QDir().mkpath(UserProfilesDir()));
    KeyMap map{};
    EXPECT_EQ(LoadKeyMap(QStringLiteral("nosuch"), map).status, ProfileLoad::NotFound);
    EXPECT_TRUE(QDir(UserProfilesDir()).isEmpty());
    EXPECT_EQ(LoadKeyMap(QStringLiteral("../escape"), map).status, ProfileLoad::NotFound);
}

TEST_F(KeyMapTest, UserProfilesComeBeforeInstalledOnes) {
    KeyMap user{}, shipped{};
    user[0x41] = Entry(3);
    shipped[0x41] = Entry(4);
    shipped[0x42] = Entry(4);
    ASSERT_TRUE(SaveKeyMapFile(installed.filePath("p.kmp"), shipped));
    ASSERT_TRUE(SaveKeyMapFile(installed.filePath("only.kmp"), shipped));
    ASSERT_TRUE(SaveKeyMap(QStringLiteral("p"), user));  // creates the user folder
    KeyMap map{};
    EXPECT_EQ(LoadKeyMap(QStringLiteral("p"), map).status, ProfileLoad::Loaded);
    EXPECT_EQ(map, user);
    EXPECT_EQ(LoadKeyMap(QStringLiteral("only"), map).status, ProfileLoad::Loaded);
    EXPECT_EQ(map[0x42], Entry(4));
    EXPECT_EQ(SavedProfileNames(), (QStringList{"only", "p"}));
}

TEST_F(KeyMapTest, SavingOverALongerProfileLeavesNothingOfIt) {
    KeyMap ten{}, one{};
    for (int k = 0; k < 10; ++k) ten[static_cast<std::size_t>(0x41 + k)] = Entry(1, {0, 4, 7});
    one[0x5A] = Entry(1, {0});
    ASSERT_TRUE(SaveKeyMap(QStringLiteral("default"), ten));
    ASSERT_TRUE(SaveKeyMap(QStringLiteral("default"), one));
    const QString file = UserProfilesDir() + "/default.kmp";
    EXPECT_EQ(Bytes(file).size(), 4 + 10 + 9 + 1);
    KeyMap back{};
    LoadKeyMap(QStringLiteral("default"), back);
    EXPECT_EQ(back, one);
    EXPECT_FALSE(QFile::exists(file + ".tmp"));
}

TEST_F(KeyMapTest, RefusedNamesWriteNothingAnywhere) {
    KeyMap map{};
    map[0x41] = Entry(1, {0});
    for (const char* name : {"", "a/b", "a\\b", "..", "x..y", ".hidden", "tab\there", "what?", "a:b"}) {
        EXPECT_FALSE(IsValidProfileName(QString::fromUtf8(name))) << name;
        EXPECT_FALSE(SaveKeyMap(QString::fromUtf8(name), map)) << name;
    }
    EXPECT_FALSE(SaveKeyMap(QString(300, QLatin1Char('n')), map));
    EXPECT_FALSE(QDir(UserProfilesDir()).exists());
    EXPECT_TRUE(IsValidProfileName(QStringLiteral("My piano 2 (öäå)")));
}

TEST_F(KeyMapTest, FailedSavesKeepThePreviousProfileWhole) {
    KeyMap before{}, after{};
    before[0x41] = Entry(1, {0, 4, 7});
    after[0x42] = Entry(2, {60});
    ASSERT_TRUE(SaveKeyMap(QStringLiteral("keep"), before));
    const QString file = UserProfilesDir() + "/keep.kmp";
    const QByteArray original = Bytes(file);
    // A full disk: the temporary file is a link to /dev/full, which refuses every write.
    ASSERT_EQ(::symlink("/dev/full", QFile::encodeName(file + ".tmp").constData()), 0);
    EXPECT_FALSE(SaveKeyMap(QStringLiteral("keep"), after));
    EXPECT_EQ(Bytes(file), original);
    EXPECT_FALSE(QFileInfo(file + ".tmp").isSymLink());
    // A folder that cannot be made (its parent path is a regular file; this stops root too).
    QDir(UserProfilesDir()).removeRecursively();
    Put(UserProfilesDir(), "not a folder");
    EXPECT_FALSE(SaveKeyMap(QStringLiteral("keep"), after));
    EXPECT_EQ(Bytes(UserProfilesDir()), "not a folder");
    QFile::remove(UserProfilesDir());
}

// The shipped profile: a two-octave piano on the letter rows, Space and Enter for the Music Maker.
TEST_F(KeyMapTest, ShippedDefaultProfileIsTheTwoOctavePiano) {
    KeyMap expected{};
    const char lower[] = "ZSXDCVGBHNJM";
    const char upper[] = "Q2W3ER5T6Y7UI";
    for (std::uint8_t i = 0; i < 12; ++i) expected[static_cast<std::size_t>(lower[i])] = Entry(1, {i});
    expected[0xBC] = Entry(1, {12});
    for (std::uint8_t i = 0; i < 13; ++i) expected[static_cast<std::size_t>(upper[i])] = Entry(1, {std::uint8_t(12 + i)});
    expected[0x20] = Entry(3);
    expected[0x0D] = Entry(4);

    SetInstalledProfilesDir(QStringLiteral(KIVRA_SOURCE_DATA_DIR "/keymaps"));
    KeyMap loaded{};
    EXPECT_EQ(LoadKeyMap(QStringLiteral("default"), loaded).status, ProfileLoad::Loaded);
    EXPECT_EQ(loaded, expected);
    // The committed file is exactly what the writer makes of that key map.
    ASSERT_TRUE(SaveKeyMapFile(Path("default.kmp"), expected));
    EXPECT_EQ(Bytes(Path("default.kmp")), Bytes(QStringLiteral(KIVRA_SOURCE_DATA_DIR "/keymaps/default.kmp")));
}

TEST(KeyNames, UnshiftedUsCharactersOrQuestionMark) {
    EXPECT_EQ(GetKeyName(0x41), "A");
    EXPECT_EQ(GetKeyName(0x31), "1");
    EXPECT_EQ(GetKeyName(0xBA), ";");
    EXPECT_EQ(GetKeyName(0xBC), ",");
    EXPECT_EQ(GetKeyName(0x70), "?");   // F1
    EXPECT_EQ(GetKeyName(0x0D), "?");   // Enter gives a control character, shown as "?"
    EXPECT_EQ(GetKeyName(0x25), "?");   // left arrow
    EXPECT_EQ(GetKeyName(300), "?");
}

TEST(KeyNames, QtKeysMapToWindowsVirtualKeys) {
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_A, false), 0x41);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Exclam, false), 0x31);  // Shift+1 is still the 1 key
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Less, false), 0xBC);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_5, true), 0x65);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_F24, false), 0x87);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Return, false), 0x0D);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Shift, false, 62), 0xA1);
    EXPECT_EQ(VirtualKeyFromQt(Qt::Key_Adiaeresis, false), 0);
}

}  // namespace
}  // namespace kivra
