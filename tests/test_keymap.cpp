// Key-map profiles: the writer's bytes, valid and hostile files, the profile folders.
#include "keyboard/keymap.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

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
    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir dir, installed;
};

TEST_F(KeyMapTest, WriterSavesKeysWithAnActionInOrderAndNotesOnlyWhenThereAreAny) {
    KeyMap map{};
    map[0x41] = Entry(1, {0, 4, 7});
    EXPECT_EQ(SavedAndBack(map), Bytes(kData + "example26.kmp"));
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

// Chunks load in any order, unknown ones are skipped; hostile files stop the load keeping what
// was read. Loading sets only what the file names: key 0x44, in no file, keeps its entry.
TEST_F(KeyMapTest, LoadsWhatTheChunksNameAndStopsAtTheFirstBadOne) {
    using enum ProfileLoad::Status;
    const std::pair<const char*, ProfileLoad::Status> cases[] = {
        {"../kdat-first.kmp", Loaded},       {"../unknown-chunk.kmp", Loaded},    {"bad-magic.kmp", BadMagic},
        {"too-short.kmp", BadMagic},         {"kdat-size-1.kmp", StoppedEarly},   {"kdat-size-257.kmp", StoppedEarly},
        {"negative-size.kmp", StoppedEarly}, {"size-past-end.kmp", StoppedEarly}, {"header-cut.kmp", StoppedEarly}};
    for (const auto& [file, status] : cases) {
        SCOPED_TRACE(file);
        KeyMap map{};
        map[0x44] = Entry(2, {1});
        const ProfileLoad r = LoadKeyMapFile(kData + "invalid/" + file, map);
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(r.reason.isEmpty(), status == Loaded);
        // A bad magic loads nothing; otherwise the chunk before the bad one is kept, none after it.
        EXPECT_EQ(map[0x41], status == Loaded ? Entry(1, {0, 4, 7}) : Entry(status == BadMagic ? 0 : 1));
        EXPECT_EQ(map[0x43].Action, 0);
        EXPECT_EQ(map[0x44], Entry(2, {1}));
    }
    // A file of 1 MiB loads; one byte more is not read at all.
    const QByteArray full = Bytes(kShipped);
    QByteArray atLimit = full + "ZZZZ" + QByteArray(4, '\0');
    qToLittleEndian<qint32>(static_cast<qint32>(kMaxProfileBytes - atLimit.size()), atLimit.data() + full.size() + 4);
    atLimit.resize(kMaxProfileBytes, '\0');
    for (const QByteArray& bytes : {atLimit, atLimit + 'x'}) {
        Put(Path("big.kmp"), bytes);
        KeyMap map{};
        const ProfileLoad r = LoadKeyMapFile(Path("big.kmp"), map);
        EXPECT_EQ(r.status, bytes.size() > kMaxProfileBytes ? TooLarge : Loaded);
        EXPECT_EQ(r.reason, bytes.size() > kMaxProfileBytes
                                ? "The file is 1048577 bytes long; a key-map profile is at most 1 MiB." : "");
        EXPECT_EQ(map[0x5A].Action, r.status == Loaded ? 1 : 0);
    }
    // Every truncated copy of the shipped profile loads a prefix of it and ends.
    for (int n = 0; n < full.size(); ++n) {
        KeyMap map{};
        const ProfileLoad r = LoadKeyMapBytes(full.left(n), map);
        EXPECT_LE(r.offset, n);
        EXPECT_NE(r.status, NotFound);
    }
}

// The user's profile comes first; loading never creates a file; a save replaces a profile whole,
// a longer one included, or when it fails (full disk, a folder that cannot be made) leaves it as it was.
TEST_F(KeyMapTest, UserProfilesComeFirstAndSavesReplaceWholeOrNotAtAll) {
    KeyMap map{}, ten{}, one{};
    EXPECT_EQ(LoadKeyMap(QStringLiteral("p"), map).status, ProfileLoad::NotFound);
    EXPECT_EQ(LoadKeyMap(QStringLiteral("../escape"), map).status, ProfileLoad::NotFound);
    EXPECT_FALSE(QDir(UserProfilesDir()).exists());
    for (int k = 0; k < 10; ++k) ten[static_cast<std::size_t>(0x41 + k)] = Entry(1, {0, 4, 7});
    one[0x5A] = Entry(4);
    ASSERT_TRUE(SaveKeyMapFile(installed.filePath("p.kmp"), one));
    ASSERT_TRUE(SaveKeyMapFile(installed.filePath("only.kmp"), one));
    ASSERT_TRUE(SaveKeyMap(QStringLiteral("p"), ten));  // also creates the user folder
    EXPECT_EQ(LoadKeyMap(QStringLiteral("p"), map).status, ProfileLoad::Loaded);
    EXPECT_EQ(map, ten);
    EXPECT_EQ(SavedProfileNames(), (QStringList{"only", "p"}));
    const QString file = UserProfilesDir() + "/p.kmp";
    const QByteArray original = Bytes(file);
    {
        const test::FileSizeLimit full(6);  // the disk fills up after 6 bytes
        EXPECT_FALSE(SaveKeyMap(QStringLiteral("p"), one));
    }
    EXPECT_EQ(Bytes(file), original);
    ASSERT_TRUE(SaveKeyMap(QStringLiteral("p"), one));
    EXPECT_EQ(Bytes(file), Bytes(installed.filePath("p.kmp")));
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
    const QString tooLong(300, QLatin1Char('n'));
    for (const QString& name : QStringList{"", "a/b", "a\\b", "..", "x..y", ".hidden", "tab\there", "what?", "a:b", tooLong}) {
        EXPECT_FALSE(IsValidProfileName(name)) << name.toStdString();
        EXPECT_FALSE(SaveKeyMap(name, map)) << name.toStdString();
    }
    EXPECT_FALSE(QDir(UserProfilesDir()).exists());
    EXPECT_TRUE(IsValidProfileName(QStringLiteral("My piano 2 (öäå)")));
}

// A two-octave piano on the letter rows, Space and Enter for the Music Maker; the committed file
// is exactly what the writer makes of it.
TEST_F(KeyMapTest, ShippedDefaultProfileIsTheTwoOctavePiano) {
    KeyMap expected{};
    for (int i = 0; i < 26; ++i)  // the comma key (0xBC) and Q both play offset 12
        expected[static_cast<unsigned char>("ZSXDCVGBHNJM\xBCQ2W3ER5T6Y7UI"[i])] = Entry(1, {std::uint8_t(i - (i > 12))});
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
