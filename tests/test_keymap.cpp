#include "keyboard/keymap.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <unistd.h>

namespace kivra {
namespace {

const QString kData = QStringLiteral(KIVRA_TEST_DATA_DIR "/keyboard/");
const QString kShipped = QStringLiteral(KIVRA_SOURCE_DATA_DIR "/keymaps/default.kmp");

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
    // Saves `map` to a.kmp and returns the file's bytes, checking that it loads back unchanged.
    QByteArray SavedAndBack(const KeyMap& map) {
        EXPECT_TRUE(SaveKeyMapFile(Path("a.kmp"), map));
        KeyMap back{};
        EXPECT_EQ(LoadKeyMapFile(Path("a.kmp"), back).status, ProfileLoad::Loaded);
        EXPECT_EQ(back, map);
        return Bytes(Path("a.kmp"));
    }
    QTemporaryDir dir, installed;
    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
};

TEST_F(KeyMapTest, WriterSavesKeysWithAnActionInOrderAndNotesOnlyWhenThereAreAny) {
    KeyMap map{};
    map[0x41] = Entry(1, {0, 4, 7});
    EXPECT_EQ(SavedAndBack(map), Bytes(kData + "example26.kmp"));
    EXPECT_EQ(Bytes(kData + "example26.kmp").size(), 26);
    map = KeyMap{};
    map[0x20] = Entry(3);             // action, no notes: one KAct chunk
    map[0x10] = Entry(2, {60});
    map[0xFF] = Entry(9, {1, 2, 3});  // unknown action codes are kept as they are
    EXPECT_EQ(SavedAndBack(map).toHex(' ').toUpper(),
              "4B 4D 50 00 4B 41 63 74 02 00 00 00 10 02 4B 44 61 74 02 00 00 00 10 3C "
              "4B 41 63 74 02 00 00 00 20 03 "
              "4B 41 63 74 02 00 00 00 FF 09 4B 44 61 74 04 00 00 00 FF 01 02 03");
    map[0x42] = Entry(0, {1, 2});  // notes but no action: not saved
    ASSERT_TRUE(SaveKeyMapFile(Path("b.kmp"), map));
    EXPECT_EQ(Bytes(Path("b.kmp")), Bytes(Path("a.kmp")));
}

// Chunks load in any order, unknown ones are skipped; hostile files stop the load keeping what was read.
TEST_F(KeyMapTest, LoadsWhatTheChunksNameAndStopsAtTheFirstBadOne) {
    using enum ProfileLoad::Status;
    const std::pair<const char*, ProfileLoad::Status> cases[] = {
        {"../kdat-first.kmp", Loaded},       {"../unknown-chunk.kmp", Loaded},
        {"bad-magic.kmp", BadMagic},        {"too-short.kmp", BadMagic},         {"kdat-size-1.kmp", StoppedEarly},
        {"kdat-size-257.kmp", StoppedEarly}, {"negative-size.kmp", StoppedEarly}, {"size-past-end.kmp", StoppedEarly},
        {"header-cut.kmp", StoppedEarly}};
    for (const auto& [file, status] : cases) {
        KeyMap map{};
        const ProfileLoad r = LoadKeyMapFile(kData + "invalid/" + file, map);
        EXPECT_EQ(r.status, status) << file;
        EXPECT_EQ(r.reason.isEmpty(), status == Loaded) << file;
        // A bad magic loads nothing; otherwise the chunk before the bad one is kept, none after it.
        EXPECT_EQ(map[0x41].Action, status == BadMagic ? 0 : 1) << file;
        EXPECT_EQ(map[0x43].Action, 0) << file;
        if (status == Loaded) {
            EXPECT_EQ(map[0x41], Entry(1, {0, 4, 7})) << file;
        }
    }
    // Loading sets only what the file names: other keys keep their entries.
    KeyMap kept{};
    kept[0x41] = Entry(2, {1});
    Put(Path("m.kmp"), QByteArray("KMP\0", 4));
    EXPECT_EQ(LoadKeyMapFile(Path("m.kmp"), kept).status, Loaded);
    EXPECT_EQ(kept[0x41], Entry(2, {1}));
    // A file of 1 MiB loads; one byte more is not read at all.
    const QByteArray full = Bytes(kShipped);
    QByteArray atLimit = full + "ZZZZ" + QByteArray(4, '\0');
    qToLittleEndian<qint32>(static_cast<qint32>(kMaxProfileBytes - atLimit.size()), atLimit.data() + full.size() + 4);
    atLimit.resize(kMaxProfileBytes, '\0');
    for (const auto& [bytes, status] : {std::pair{atLimit, ProfileLoad::Loaded}, std::pair{atLimit + 'x', ProfileLoad::TooLarge}}) {
        Put(Path("big.kmp"), bytes);
        KeyMap map{};
        EXPECT_EQ(LoadKeyMapFile(Path("big.kmp"), map).status, status);
        EXPECT_EQ(map[0x5A].Action, status == ProfileLoad::Loaded ? 1 : 0);
    }
    // Every truncated copy of the shipped profile loads a prefix of it and ends.
    for (int n = 0; n < full.size(); ++n) {
        Put(Path("cut.kmp"), full.left(n));
        KeyMap map{};
        const ProfileLoad r = LoadKeyMapFile(Path("cut.kmp"), map);
        EXPECT_LE(r.offset, n);
        EXPECT_NE(r.status, ProfileLoad::NotFound);
    }
}

TEST_F(KeyMapTest, UserProfilesComeFirstAndLoadingNeverCreatesAFile) {
    ASSERT_TRUE(QDir().mkpath(UserProfilesDir()));
    KeyMap map{}, user{}, shipped{};
    EXPECT_EQ(LoadKeyMap(QStringLiteral("nosuch"), map).status, ProfileLoad::NotFound);
    EXPECT_EQ(LoadKeyMap(QStringLiteral("../escape"), map).status, ProfileLoad::NotFound);
    EXPECT_TRUE(QDir(UserProfilesDir()).isEmpty());
    user[0x41] = Entry(3);
    shipped[0x41] = Entry(4);
    ASSERT_TRUE(SaveKeyMapFile(installed.filePath("p.kmp"), shipped));
    ASSERT_TRUE(SaveKeyMapFile(installed.filePath("only.kmp"), shipped));
    ASSERT_TRUE(SaveKeyMap(QStringLiteral("p"), user));
    EXPECT_EQ(LoadKeyMap(QStringLiteral("p"), map).status, ProfileLoad::Loaded);
    EXPECT_EQ(map, user);
    EXPECT_EQ(SavedProfileNames(), (QStringList{"only", "p"}));
}

// A save replaces a profile whole, a longer one included, or when it fails (full disk, a folder
// that cannot be made) leaves it untouched.
TEST_F(KeyMapTest, SavingOverAProfileReplacesItWholeAndAFailedSaveKeepsItWhole) {
    KeyMap ten{}, one{};
    for (int k = 0; k < 10; ++k) ten[static_cast<std::size_t>(0x41 + k)] = Entry(1, {0, 4, 7});
    one[0x5A] = Entry(1, {0});
    ASSERT_TRUE(SaveKeyMap(QStringLiteral("p"), ten));  // also creates the user folder
    const QString file = UserProfilesDir() + "/p.kmp";
    const QByteArray original = Bytes(file);
    {
        const test::FileSizeLimit full(6);  // the disk fills up after 6 bytes
        EXPECT_FALSE(SaveKeyMap(QStringLiteral("p"), one));
    }
    EXPECT_EQ(Bytes(file), original);
    ASSERT_TRUE(SaveKeyMap(QStringLiteral("p"), one));
    ASSERT_TRUE(SaveKeyMapFile(Path("one.kmp"), one));
    EXPECT_EQ(Bytes(file), Bytes(Path("one.kmp")));
    EXPECT_EQ(QDir(UserProfilesDir()).entryList(QDir::Files | QDir::Hidden), QStringList{"p.kmp"});
    // The folder's path is a regular file, so it cannot be made (this stops root too).
    QDir(UserProfilesDir()).removeRecursively();
    Put(UserProfilesDir(), "not a folder");
    EXPECT_FALSE(SaveKeyMap(QStringLiteral("p"), ten));
    EXPECT_EQ(Bytes(UserProfilesDir()), "not a folder");
    QFile::remove(UserProfilesDir());
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

// A two-octave piano on the letter rows, Space and Enter for the Music Maker; the committed file
// is exactly what the writer makes of it.
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
    EXPECT_EQ(SavedAndBack(expected), Bytes(kShipped));
}

}  // namespace
}  // namespace kivra
