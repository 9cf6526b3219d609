#include "formats/filestream.h"
#include "testsupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kivra {
namespace {

// While it lives, `folder` takes no new names and no renames, for root too (the immutable flag);
// `made` is false where the file system or the process cannot do that.
struct ReadOnlyFolder {
    QString folder;
    bool made = (QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner), Refuses()) ||
                (Immutable(true) && Refuses());
    ~ReadOnlyFolder() {
        Immutable(false);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    bool Refuses() const {
        QFile probe(QDir(folder).filePath(QStringLiteral(".probe")));
        return !probe.open(QIODevice::WriteOnly) || !probe.remove();
    }
    bool Immutable(bool on) const {
        const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int flags = 0;
        const bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                        (flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL, true) &&
                        ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0) ::close(fd);
        return ok;
    }
};

class FileStreamTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    // Writes with a fresh, truncating stream on w.bin and returns the file's bytes as hex.
    template <typename Fn> QByteArray Written(Fn&& fn) {
        {
            FileStream fs;
            EXPECT_TRUE(fs.OpenFile(Path("w.bin"), true));
            fn(fs);
        }
        return test::ReadFile(Path("w.bin")).toHex(' ').toUpper();
    }
    // Runs fn on a read-only stream over `bytes` and returns what it returns.
    template <typename Fn> auto ReadFrom(const QByteArray& bytes, Fn&& fn) {
        test::WriteFile(Path("r.bin"), bytes);
        FileStream fs;
        fs.flags(QStringLiteral("r"));
        EXPECT_TRUE(fs.OpenFile(Path("r.bin")));
        return fn(fs);
    }
};

TEST_F(FileStreamTest, AccessLettersDecideWhatOpensAndWhatTheStreamMayDo) {
    FileStream fs, noName, reader, writer, cutter;
    QStringList flags{fs.flags()};
    for (const char* in : {"Rw", "rR", "wW", "", "W", "r", "WR", "xyz"})
        flags << (fs.flags(QString::fromLatin1(in)), fs.flags());
    EXPECT_EQ(flags.join(','), "RW,Rw,r,w,,W,r,RW,");
    // No access at all, no name; a stream that is not open reads zeros, refuses writes and is nowhere.
    EXPECT_FALSE(fs.OpenFile(Path("never.bin"), true) || noName.OpenFile());
    EXPECT_TRUE(noName.EndOfFile() && noName.GetPosition() == -1 && noName.GetLength() == -1 && !noName.SetPosition(0));
    EXPECT_TRUE(noName.ReadLong() == 0 && !noName.WriteLong(1) && !noName.CloseFile());
    reader.flags(QStringLiteral("R"));
    EXPECT_FALSE(reader.OpenFile(Path("missing.bin")));
    EXPECT_EQ(reader.FileName(), Path("missing.bin"));  // the name is kept for a later open
    EXPECT_FALSE(reader.OpenFile(dir.path()));          // a folder is not a file
    EXPECT_TRUE(QDir(dir.path()).isEmpty());            // the file system was not touched

    const QString p = Path("a.bin");
    test::WriteFile(p, "xyz");
    ASSERT_TRUE(reader.OpenFile(p, true));  // Truncate means nothing without write access
    EXPECT_TRUE(!reader.WriteByte(1) && reader.ReadByte() == 'x');
    writer.flags(QStringLiteral("w"));
    ASSERT_TRUE(writer.OpenFile(p));  // without Truncate: overwrites in place
    EXPECT_TRUE(writer.GetLength() == 3 && writer.ReadByte() == 0 && writer.WriteByte('Q'));
    EXPECT_EQ(test::ReadFile(p), "Qyz");
    ASSERT_TRUE(cutter.OpenFile(p, true));  // read and write: cut in place
    EXPECT_TRUE(cutter.EndOfFile() && test::ReadFile(p).isEmpty());
    EXPECT_TRUE(cutter.WriteByte(5) && cutter.CloseFile() && cutter.OpenFile());  // reopens the stored name
    EXPECT_EQ(cutter.ReadByte(), 5);
}

TEST_F(FileStreamTest, TypedValuesAreLittleEndianWithoutPadding) {
    EXPECT_EQ(Written([](FileStream& fs) {
                  fs.WriteByte(0xAB), fs.WriteInteger(-2), fs.WriteLong(0x01020304);
                  fs.WriteCurrency(-1), fs.WriteSingle(1.0f), fs.WriteDouble(2.0);
              }),
              "AB FE FF 04 03 02 01 FF FF FF FF FF FF FF FF 00 00 80 3F 00 00 00 00 00 00 00 40");
    FileStream fs;
    ASSERT_TRUE(fs.OpenFile(Path("w.bin")));
    EXPECT_TRUE(fs.ReadByte() == 0xAB && fs.ReadInteger() == -2 && fs.ReadLong() == 0x01020304 &&
                fs.ReadCurrency() == -1 && fs.ReadSingle() == 1.0f && fs.ReadDate() == 2.0 && fs.EndOfFile());
}

TEST_F(FileStreamTest, StringsWithAndWithoutMarkerAndTheirRangeErrors) {
    EXPECT_EQ(Written([](FileStream& fs) { fs.WriteString(QStringLiteral("abc"), 0, true); }), "03 00 00 00 61 62 63");
    EXPECT_EQ(ReadFrom(QByteArray::fromHex("03000000616263"), [](FileStream& fs) { return fs.ReadString(); }), "abc");
    EXPECT_EQ(Written([](FileStream& fs) { fs.WriteString(QStringLiteral("abcdef"), 2); }), "61 62");
    // Every byte value survives a round trip, the zero of "KMP\0" included.
    EXPECT_EQ(Written([](FileStream& fs) { fs.WriteString(QString::fromLatin1("KMP\0\xFF", 5)); }), "4B 4D 50 00 FF");
    // Range errors; an empty string still writes its marker first.
    EXPECT_EQ(Written([](FileStream& fs) {
                  EXPECT_THROW(fs.WriteString(QString(), 0, true), FileStreamRangeError);
                  EXPECT_THROW(fs.WriteString(QStringLiteral("ab"), 3, true), FileStreamRangeError);
                  EXPECT_THROW(fs.WriteByteArray({}), FileStreamRangeError);
                  std::vector<std::uint8_t> b;
                  EXPECT_THROW(fs.ReadByteArray(b, 0), FileStreamRangeError);
                  EXPECT_THROW(fs.ReadString(-1), FileStreamRangeError);
              }),
              "00 00 00 00");
    // A length marker of 0 read back is a range error too.
    ReadFrom(QByteArray(4, '\0'), [](FileStream& fs) { EXPECT_THROW(fs.ReadString(), FileStreamRangeError); });
}

TEST_F(FileStreamTest, VariableLengthQuantitiesBothWays) {
    auto vlq = [this](const char* hex) {
        return ReadFrom(QByteArray::fromHex(hex), [](FileStream& fs) { return fs.ReadVLQ(); });
    };
    const std::pair<std::int32_t, const char*> cases[] = {
        {0, "00"}, {127, "7F"}, {128, "81 00"}, {0x3FFF, "FF 7F"}, {0x4000, "81 80 00"},
        {0x0FFFFFFF, "FF FF FF 7F"}, {-200, "38"}};
    for (const auto& [value, hex] : cases) {
        EXPECT_EQ(Written([v = value](FileStream& fs) { fs.WriteVLQ(v); }), hex) << value;
        EXPECT_EQ(vlq(hex), value >= 0 ? value : 0x38) << value;  // a negative value is written as its low 7 bits
    }
    EXPECT_EQ(Written([](FileStream& fs) { EXPECT_THROW(fs.WriteVLQ(0x10000000), FileStreamRangeError); }), "");
    EXPECT_EQ(std::pair(vlq("8080808001"), vlq("81")), std::pair(1, 128));  // the end of the file ends the quantity
    EXPECT_THROW(vlq("FFFFFFFF7F"), FileStreamOverflowError);
}

// A write-only, truncating stream replaces its file whole on CloseFile or not at all; a device
// is written in place and its failures reported.
TEST_F(FileStreamTest, ReplacingAFileKeepsTheOldOneWholeUntilCloseCommits) {
    enum Ending { Close, Release, FullDisk, ReadOnly };
    for (const Ending ending : {Close, Release, FullDisk, ReadOnly}) {
        SCOPED_TRACE(ending);
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("f.bin"));
        test::WriteFile(path, "old");
        std::optional<ReadOnlyFolder> readOnly;
        if (ending == ReadOnly && !readOnly.emplace(folder.path()).made) continue;  // cannot be made here
        bool closed = false;
        {
            FileStream fs;
            fs.flags(QStringLiteral("w"));
            ASSERT_EQ(fs.OpenFile(path, true), ending != ReadOnly);
            std::optional<test::FileSizeLimit> full;
            if (ending == FullDisk) full.emplace(2);
            EXPECT_EQ(fs.WriteString(QStringLiteral("new")), ending == Close || ending == Release);
            EXPECT_EQ(test::ReadFile(path), "old") << "nothing changes before the commit";
            if (ending != Release) closed = fs.CloseFile();
            EXPECT_EQ(fs.ErrorString().isEmpty(), ending == Close || ending == Release);
        }
        EXPECT_EQ(test::ReadFile(path) + (closed ? " (closed)" : ""), ending == Close ? "new (closed)" : "old");
        EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"f.bin"}) << "no leftovers";
    }
    FileStream device;
    device.flags(QStringLiteral("w"));
    ASSERT_TRUE(device.OpenFile(QStringLiteral("/dev/full"), true));
    EXPECT_FALSE(device.Replacing() || device.WriteString(QStringLiteral("abc")));
    EXPECT_TRUE(device.ErrorString().contains("No space")) << device.ErrorString().toStdString();
}

}  // namespace
}  // namespace kivra
