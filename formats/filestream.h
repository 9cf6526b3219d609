#pragma once
// FileStream: the one class through which the program reads and writes its files (key-map
// profiles, Standard MIDI Files). Little-endian typed values, 8-bit strings with or without a
// length marker, byte arrays and MIDI variable-length quantities.
//
// Contracts every caller may rely on:
// - Reads never fail: bytes that are not there (end of file, no file open, a write-only stream)
//   read as zero and the position advances only by what was really read.
// - Writes return false when the file refuses them. A short write (disk full part-way) is also
//   reported as false, unlike the bare platform call.
// - Range errors (FileStreamRangeError) and overflow errors (FileStreamOverflowError) are thrown
//   to the caller; see each member. Nothing is ever printed.
// - Text is converted with ISO-8859-1 (Latin-1), the single-byte code page that stands for the
//   "ANSI" code page here: every byte 0..255 maps to U+0000..U+00FF and back, so tags, names and
//   binary fields round-trip exactly. Characters above U+00FF are written as '?'.
// - File names are encoded with QFile::encodeName (the locale's 8-bit encoding, UTF-8 on Linux).
// - Positions and lengths are signed 64-bit byte offsets, so no file size is ever taken modulo
//   4 GiB; -1 when no file is open.
// - The sharing letters "R" and "W" grant read and write access and have no other effect on POSIX.
// - Replacing a file is atomic: a stream opened with write access only and Truncate, on a regular
//   file or a new name, writes to a QSaveFile beside it. Nothing at the path changes until
//   CloseFile commits (flushes to disk, then renames over the old file); a failed write, a failed
//   commit or releasing the stream without CloseFile discards what was written and leaves the old
//   file whole. Devices, pipes and every other open mode are written in place.
// - Every read and write is one unbuffered system call sequence.
// Called on the UI thread only; one object per file.

#include <QSaveFile>
#include <QString>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

namespace kivra {

// A length below 1, an empty string to write, a quantity too large for four VLQ bytes.
class FileStreamRangeError : public std::out_of_range {
public:
    using std::out_of_range::out_of_range;
};

// A variable-length quantity that does not fit a signed 32-bit number.
class FileStreamOverflowError : public std::overflow_error {
public:
    using std::overflow_error::overflow_error;
};

class FileStream {
public:
    // Access flag bits.
    static constexpr std::uint8_t kRead = 1, kShareRead = 2, kWrite = 4, kShareWrite = 8;

    FileStream() = default;
    ~FileStream();
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    // Opens `FN` (or the stored file name when `FN` is empty) with the access flags: read only
    // needs an existing file; write creates the file, and `Truncate` starts it at 0 bytes (for a
    // write-only stream, as a replacement committed by CloseFile). False when the flags are 0, no
    // name is known or the system refuses (ErrorString says why). A stream that is already open
    // closes its first file before opening the new one.
    bool OpenFile(const QString& FN = QString(), bool Truncate = false);

    void Position(std::int64_t P);  // moves to P; reports nothing
    std::int64_t Position() const;  // current offset, -1 when closed
    void FileName(const QString& FN);
    QString FileName() const;
    // Access letters: "r" read, "R" read + share read, "w" write, "W" write + share write;
    // lower case wins over upper case; other characters are ignored.
    void flags(const QString& F);
    QString flags() const;
    std::uint8_t AccessFlags() const { return flags_; }

    std::uint8_t ReadByte();
    std::int16_t ReadInteger();
    std::int32_t ReadLong();
    std::int64_t ReadCurrency();  // ten-thousandths of a unit
    float ReadSingle();
    double ReadDouble();
    double ReadDate();  // OLE Automation date: days since 30 December 1899
    // Reads L bytes (L = 0: a Long length marker first) as L characters; missing bytes become
    // U+0000. Throws FileStreamRangeError when the length is below 1. The result always holds L
    // characters, so a caller taking L from a file bounds it by GetLength() first.
    QString ReadString(std::int32_t L = 0);
    // Resizes B to Length zeroed elements and reads up to Length bytes into it. True unless the
    // read call itself failed (end of file is a success). Throws FileStreamRangeError if Length < 1.
    bool ReadByteArray(std::vector<std::uint8_t>& B, std::int32_t Length);

    bool WriteByte(std::uint8_t Value);
    bool WriteInteger(std::int16_t Value);
    bool WriteLong(std::int32_t Value);
    bool WriteCurrency(std::int64_t Value);
    bool WriteSingle(float Value);
    bool WriteDouble(double Value);
    bool WriteDate(double Value);
    // Writes the first Length bytes of Value (Length = 0: all of it), after a Long holding Length
    // when WriteLengthMarker. Throws FileStreamRangeError for an empty Value (after the marker,
    // if one was asked for) and, before writing anything, for a Length below 0 or above the text.
    bool WriteString(const QString& Value, std::int32_t Length = 0, bool WriteLengthMarker = false);
    // Writes every element; throws FileStreamRangeError when B is empty.
    bool WriteByteArray(const std::vector<std::uint8_t>& B);

    // MIDI variable-length quantity. ReadVLQ throws FileStreamOverflowError when the value would
    // not fit 32 bits; WriteVLQ throws FileStreamRangeError for 0x10000000 or more, writing nothing.
    std::int32_t ReadVLQ();
    void WriteVLQ(std::int32_t p_lValue);

    // Closes the file; a replacement is committed only when every write since OpenFile succeeded.
    // False when nothing was open or the close or commit failed (then the old file is whole).
    bool CloseFile();
    bool SetPosition(std::int64_t P);
    std::int64_t GetPosition() const;
    std::int64_t GetLength() const;
    bool EndOfFile() const;
    bool IsOpen() const { return fd_ >= 0; }
    // True while the open file is an atomic replacement (see above), not written in place.
    bool Replacing() const { return replacement_ != nullptr; }
    // The system's reason for the last failed open, write or close, in words a person can read.
    QString ErrorString() const { return error_; }

private:
    // Reads up to n bytes into buf (which the caller zeroed); false when the read call failed.
    bool ReadRaw(void* buf, std::size_t n);
    bool WriteRaw(const void* buf, std::size_t n);
    void Failed(int error);
    template <typename T>
    T ReadLE();
    template <typename T>
    bool WriteLE(T value);

    QString fileName_;
    std::uint8_t flags_ = kRead | kShareRead | kWrite | kShareWrite;
    int fd_ = -1;
    std::unique_ptr<QSaveFile> replacement_;  // owns fd_ while a file is being replaced
    bool writeFailed_ = false;
    QString error_;
};

}  // namespace kivra
