#include "formats/filestream.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace kivra {
namespace {

class FileStreamTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    static QByteArray Bytes(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    static void Put(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    // Writes with a fresh, truncating stream and returns the file's bytes as hex.
    template <typename Fn>
    QByteArray Written(Fn&& fn) {
        const QString p = Path("w.bin");
        {
            FileStream fs;
            EXPECT_TRUE(fs.OpenFile(p, true));
            fn(fs);
        }
        return Bytes(p).toHex(' ').toUpper();
    }
    template <typename Fn>
    auto ReadFrom(const QByteArray& bytes, Fn&& fn) {
        const QString p = Path("r.bin");
        Put(p, bytes);
        FileStream fs;
        fs.flags(QStringLiteral("r"));
        EXPECT_TRUE(fs.OpenFile(p));
        return fn(fs);
    }
};

TEST_F(FileStreamTest, AccessLettersReadBackAndLowerCaseWins) {
    FileStream fs;
    EXPECT_EQ(fs.flags(), "RW");
    const std::pair<const char*, const char*> cases[] = {
        {"Rw", "Rw"}, {"rR", "r"}, {"wW", "w"}, {"", ""}, {"xyz", ""}, {"W", "W"}, {"r", "r"}, {"WR", "RW"}};
    for (const auto& [in, out] : cases) {
        fs.flags(QString::fromLatin1(in));
        EXPECT_EQ(fs.flags(), QString::fromLatin1(out)) << in;
    }
}

TEST_F(FileStreamTest, OpenRefusesWithoutAccessNameOrExistingFileForReading) {
    FileStream none;
    none.flags(QStringLiteral("xyz"));
    EXPECT_FALSE(none.OpenFile(Path("never.bin"), true));
    EXPECT_FALSE(QFile::exists(Path("never.bin")));  // the file system was not touched

    FileStream noName;
    EXPECT_FALSE(noName.OpenFile());

    FileStream readOnly;
    readOnly.flags(QStringLiteral("r"));
    EXPECT_FALSE(readOnly.OpenFile(Path("missing.bin")));
    EXPECT_FALSE(QFile::exists(Path("missing.bin")));
    EXPECT_EQ(readOnly.FileName(), Path("missing.bin"));  // the name is kept for a later open
    EXPECT_FALSE(readOnly.OpenFile(dir.path()));          // a folder is not a file
}

TEST_F(FileStreamTest, TruncateCutsAndOpenAlwaysOverwritesInPlace) {
    const QString p = Path("t.bin");
    Put(p, "abcdef");
    {
        FileStream fs;
        ASSERT_TRUE(fs.OpenFile(p, false));
        EXPECT_EQ(fs.GetLength(), 6);
        EXPECT_EQ(fs.GetPosition(), 0);
        fs.WriteString(QStringLiteral("XY"));
    }
    EXPECT_EQ(Bytes(p), "XYcdef");
    {
        FileStream fs;
        ASSERT_TRUE(fs.OpenFile(p, true));
        EXPECT_EQ(fs.GetLength(), 0);
        EXPECT_TRUE(fs.EndOfFile());
    }
    EXPECT_EQ(Bytes(p), "");
    FileStream create;
    EXPECT_TRUE(create.OpenFile(Path("new.bin")));
    EXPECT_TRUE(QFile::exists(Path("new.bin")));
}

TEST_F(FileStreamTest, TypedValuesAreLittleEndianWithoutPadding) {
    EXPECT_EQ(Written([](FileStream& fs) {
                  fs.WriteByte(0xAB);
                  fs.WriteInteger(-2);
                  fs.WriteLong(0x01020304);
                  fs.WriteCurrency(-1);
                  fs.WriteSingle(1.0f);
                  fs.WriteDouble(2.0);
              }),
              "AB FE FF 04 03 02 01 FF FF FF FF FF FF FF FF 00 00 80 3F 00 00 00 00 00 00 00 40");
    const QString p = Path("w.bin");
    FileStream fs;
    ASSERT_TRUE(fs.OpenFile(p));
    EXPECT_EQ(fs.ReadByte(), 0xAB);
    EXPECT_EQ(fs.ReadInteger(), -2);
    EXPECT_EQ(fs.ReadLong(), 0x01020304);
    EXPECT_EQ(fs.ReadCurrency(), -1);
    EXPECT_EQ(fs.ReadSingle(), 1.0f);
    EXPECT_EQ(fs.ReadDate(), 2.0);
    EXPECT_TRUE(fs.EndOfFile());
}

TEST_F(FileStreamTest, ShortReadsFillWithZerosAndAdvanceOnlyByWhatWasRead) {
    ReadFrom("\x7F", [](FileStream& fs) {
        EXPECT_EQ(fs.ReadInteger(), 0x007F);
        EXPECT_EQ(fs.GetPosition(), 1);
        EXPECT_EQ(fs.ReadLong(), 0);
        EXPECT_EQ(fs.GetPosition(), 1);
        std::vector<std::uint8_t> b{9, 9, 9, 9, 9};
        EXPECT_TRUE(fs.ReadByteArray(b, 3));  // at the end: still a successful read call
        EXPECT_EQ(b, (std::vector<std::uint8_t>{0, 0, 0}));
        return 0;
    });
    ReadFrom("ab", [](FileStream& fs) {
        const QString s = fs.ReadString(4);
        EXPECT_EQ(s.size(), 4);
        EXPECT_EQ(s, QString::fromLatin1("ab\0\0", 4));
        return 0;
    });
}

TEST_F(FileStreamTest, StringsWithAndWithoutMarker) {
    EXPECT_EQ(Written([](FileStream& fs) { fs.WriteString(QStringLiteral("MThd")); }), "4D 54 68 64");
    EXPECT_EQ(Written([](FileStream& fs) { fs.WriteString(QStringLiteral("abc"), 0, true); }),
              "03 00 00 00 61 62 63");
    EXPECT_EQ(ReadFrom(QByteArray::fromHex("03000000616263"), [](FileStream& fs) { return fs.ReadString(); }),
              "abc");
    EXPECT_EQ(Written([](FileStream& fs) { fs.WriteString(QStringLiteral("abcdef"), 2); }), "61 62");
    // Every byte value survives a round trip, the zero of "KMP\0" included.
    EXPECT_EQ(Written([](FileStream& fs) { fs.WriteString(QString::fromLatin1("KMP\0\xFF", 5)); }),
              "4B 4D 50 00 FF");
}

TEST_F(FileStreamTest, RangeErrorsAreThrownAndEmptyStringKeepsItsMarker) {
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
    ReadFrom(QByteArray(4, '\0'), [](FileStream& fs) {
        EXPECT_THROW(fs.ReadString(), FileStreamRangeError);
        return 0;
    });
}

TEST_F(FileStreamTest, VariableLengthQuantitiesBothWays) {
    const std::pair<std::int32_t, const char*> cases[] = {
        {0, "00"}, {127, "7F"}, {128, "81 00"}, {0x3FFF, "FF 7F"}, {0x4000, "81 80 00"},
        {0x0FFFFFFF, "FF FF FF 7F"}, {-200, "38"}};
    for (const auto& [value, hex] : cases) {
        EXPECT_EQ(Written([v = value](FileStream& fs) { fs.WriteVLQ(v); }), hex) << value;
        if (value >= 0) {
            EXPECT_EQ(ReadFrom(QByteArray::fromHex(hex), [](FileStream& fs) { return fs.ReadVLQ(); }), value);
        }
    }
    EXPECT_EQ(Written([](FileStream& fs) { EXPECT_THROW(fs.WriteVLQ(0x10000000), FileStreamRangeError); }), "");
    EXPECT_EQ(ReadFrom(QByteArray::fromHex("8080808001"), [](FileStream& fs) { return fs.ReadVLQ(); }), 1);
    EXPECT_EQ(ReadFrom(QByteArray::fromHex("81"), [](FileStream& fs) { return fs.ReadVLQ(); }), 128);  // end ends it
    ReadFrom(QByteArray::fromHex("FFFFFFFF7F"), [](FileStream& fs) {
        EXPECT_THROW(fs.ReadVLQ(), FileStreamOverflowError);
        return 0;
    });
}

TEST_F(FileStreamTest, PositionsAndEndOfFile) {
    ReadFrom("0123456789", [](FileStream& fs) {
        EXPECT_FALSE(fs.EndOfFile());
        fs.Position(7);
        EXPECT_EQ(fs.Position(), 7);
        EXPECT_EQ(fs.ReadByte(), '7');
        EXPECT_TRUE(fs.SetPosition(10));
        EXPECT_TRUE(fs.EndOfFile());
        EXPECT_TRUE(fs.SetPosition(50));  // beyond the end is a valid place to be
        EXPECT_EQ(fs.ReadByte(), 0);
        EXPECT_FALSE(fs.SetPosition(-1));
        EXPECT_EQ(fs.GetPosition(), 50);
        return 0;
    });
    const QString p = Path("gap.bin");
    {
        FileStream fs;
        ASSERT_TRUE(fs.OpenFile(p, true));
        fs.Position(3);
        fs.WriteByte(1);
    }
    EXPECT_EQ(Bytes(p), QByteArray::fromHex("00000001"));
}

TEST_F(FileStreamTest, ClosedStreamReadsZerosAndRefusesWrites) {
    FileStream fs;
    EXPECT_TRUE(fs.EndOfFile());
    EXPECT_EQ(fs.GetPosition(), -1);
    EXPECT_EQ(fs.Position(), -1);
    EXPECT_EQ(fs.GetLength(), -1);
    EXPECT_FALSE(fs.SetPosition(0));
    EXPECT_EQ(fs.ReadLong(), 0);
    EXPECT_FALSE(fs.WriteLong(1));
    std::vector<std::uint8_t> b;
    EXPECT_FALSE(fs.ReadByteArray(b, 2));
    EXPECT_EQ(b.size(), 2u);
    EXPECT_FALSE(fs.CloseFile());

    ASSERT_TRUE(fs.OpenFile(Path("c.bin"), true));
    EXPECT_TRUE(fs.WriteByte(5));
    EXPECT_TRUE(fs.CloseFile());
    EXPECT_EQ(fs.FileName(), Path("c.bin"));  // name and flags survive closing
    EXPECT_EQ(fs.flags(), "RW");
    EXPECT_TRUE(fs.OpenFile());  // reopens the stored name, keeping the contents
    EXPECT_EQ(fs.ReadByte(), 5);
}

TEST_F(FileStreamTest, AccessLimitsWhatTheStreamMayDo) {
    const QString p = Path("a.bin");
    Put(p, "xyz");
    FileStream reader;
    reader.flags(QStringLiteral("R"));
    ASSERT_TRUE(reader.OpenFile(p, true));  // Truncate means nothing without write access
    EXPECT_FALSE(reader.WriteByte(1));
    EXPECT_EQ(reader.ReadByte(), 'x');
    FileStream writer;
    writer.flags(QStringLiteral("w"));
    ASSERT_TRUE(writer.OpenFile(p));
    EXPECT_EQ(writer.ReadByte(), 0);
    EXPECT_EQ(writer.GetPosition(), 0);
    EXPECT_TRUE(writer.WriteByte('Q'));
    writer.CloseFile();
    EXPECT_EQ(Bytes(p), "Qyz");
}

TEST_F(FileStreamTest, WritesToAFullDiskReportFailure) {
    if (!QFile::exists(QStringLiteral("/dev/full"))) GTEST_SKIP() << "no /dev/full";
    FileStream fs;
    fs.flags(QStringLiteral("w"));
    ASSERT_TRUE(fs.OpenFile(QStringLiteral("/dev/full")));
    EXPECT_FALSE(fs.WriteLong(1));
    EXPECT_FALSE(fs.WriteString(QStringLiteral("abc")));
}

}  // namespace
}  // namespace kivra
