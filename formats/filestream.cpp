#include "formats/filestream.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <type_traits>
#include <utility>
#include <unistd.h>

namespace kivra {

namespace {

// Same width unsigned type, to assemble little-endian bytes without caring about the host order.
template <typename T>
using UnsignedOf = std::conditional_t<sizeof(T) == 1, std::uint8_t,
                   std::conditional_t<sizeof(T) == 2, std::uint16_t,
                   std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>>;

QString SystemReason(int error) {
    return error != 0 ? QString::fromLocal8Bit(std::strerror(error)) : QCoreApplication::translate("FileStream", "the system gave no reason");
}

// A path that names nothing yet or a regular file (through any symbolic link) can be replaced by
// renaming; a device or a pipe cannot.
bool Replaceable(const QByteArray& path) {
    struct stat st {};
    return ::stat(path.constData(), &st) != 0 ? errno == ENOENT : S_ISREG(st.st_mode);
}

}  // namespace

// Releasing a replacement without CloseFile discards it: QSaveFile removes its temporary file.
FileStream::~FileStream() {
    if (fd_ >= 0 && !replacement_) ::close(fd_);
}

void FileStream::Failed(int error) { error_ = SystemReason(error); }

bool FileStream::OpenFile(const QString& FN, bool Truncate) {
    if (flags_ == 0) return false;
    if (!FN.isEmpty()) fileName_ = FN;
    if (fileName_.isEmpty()) return false;
    // Without a read or write bit (e.g. only share bits) there is no access to ask for.
    const bool read = (flags_ & kRead) != 0;
    const bool write = (flags_ & kWrite) != 0;
    if (!read && !write) return false;
    if (fd_ >= 0) CloseFile();
    writeFailed_ = false;
    error_.clear();
    const QByteArray path = QFile::encodeName(fileName_);

    if (write && !read && Truncate && Replaceable(path)) {
        auto file = std::make_unique<QSaveFile>(fileName_);
        // Unbuffered: every write below goes straight to the temporary file's descriptor.
        if (!file->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
            error_ = file->errorString();
            return false;
        }
        fd_ = file->handle();
        replacement_ = std::move(file);
        return true;
    }

    int mode = O_CLOEXEC;
    if (write) {
        mode |= (read ? O_RDWR : O_WRONLY) | O_CREAT;
        if (Truncate) mode |= O_TRUNC;
    } else {
        mode |= O_RDONLY;
    }
    int fd;
    do {
        fd = ::open(path.constData(), mode, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        Failed(errno);
        return false;
    }
    // A folder opens for reading on POSIX; as a file it is refused.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        Failed(EISDIR);
        return false;
    }
    fd_ = fd;
    return true;
}

void FileStream::Position(std::int64_t P) { SetPosition(P); }
std::int64_t FileStream::Position() const { return GetPosition(); }
void FileStream::FileName(const QString& FN) { fileName_ = FN; }
QString FileStream::FileName() const { return fileName_; }

void FileStream::flags(const QString& F) {
    flags_ = 0;
    if (F.contains(QLatin1Char('r')))
        flags_ |= kRead;
    else if (F.contains(QLatin1Char('R')))
        flags_ |= kRead | kShareRead;
    if (F.contains(QLatin1Char('w')))
        flags_ |= kWrite;
    else if (F.contains(QLatin1Char('W')))
        flags_ |= kWrite | kShareWrite;
}

QString FileStream::flags() const {
    QString letters;
    if ((flags_ & (kRead | kShareRead)) == (kRead | kShareRead))
        letters += QLatin1Char('R');
    else if (flags_ & kRead)
        letters += QLatin1Char('r');
    if ((flags_ & (kWrite | kShareWrite)) == (kWrite | kShareWrite))
        letters += QLatin1Char('W');
    else if (flags_ & kWrite)
        letters += QLatin1Char('w');
    return letters;
}

bool FileStream::ReadRaw(void* buf, std::size_t n) {
    if (fd_ < 0) return false;
    auto* p = static_cast<char*>(buf);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::read(fd_, p + done, n - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            Failed(errno);
            return false;
        }
        if (got == 0) break;  // end of file: the rest stays zero
        done += static_cast<std::size_t>(got);
    }
    return true;
}

bool FileStream::WriteRaw(const void* buf, std::size_t n) {
    if (fd_ < 0) return false;
    const auto* p = static_cast<const char*>(buf);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t put = ::write(fd_, p + done, n - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            Failed(put < 0 ? errno : ENOSPC);
            writeFailed_ = true;
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

template <typename T>
T FileStream::ReadLE() {
    unsigned char bytes[sizeof(T)] = {};
    ReadRaw(bytes, sizeof(T));
    UnsignedOf<T> value = 0;
    for (std::size_t i = sizeof(T); i-- > 0;) value = static_cast<UnsignedOf<T>>((value << 8) | bytes[i]);
    if constexpr (sizeof(T) == 1)
        return static_cast<T>(value);
    else
        return std::bit_cast<T>(value);
}

template <typename T>
bool FileStream::WriteLE(T value) {
    auto bits = std::bit_cast<UnsignedOf<T>>(value);
    unsigned char bytes[sizeof(T)];
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        bytes[i] = static_cast<unsigned char>(bits & 0xFFu);
        if constexpr (sizeof(T) > 1) bits = static_cast<UnsignedOf<T>>(bits >> 8);
    }
    return WriteRaw(bytes, sizeof(T));
}

std::uint8_t FileStream::ReadByte() { return ReadLE<std::uint8_t>(); }
std::int16_t FileStream::ReadInteger() { return ReadLE<std::int16_t>(); }
std::int32_t FileStream::ReadLong() { return ReadLE<std::int32_t>(); }
std::int64_t FileStream::ReadCurrency() { return ReadLE<std::int64_t>(); }
float FileStream::ReadSingle() { return ReadLE<float>(); }
double FileStream::ReadDouble() { return ReadLE<double>(); }
double FileStream::ReadDate() { return ReadLE<double>(); }

QString FileStream::ReadString(std::int32_t L) {
    if (L == 0) L = ReadLong();
    if (L < 1) throw FileStreamRangeError("FileStream::ReadString: length below 1");
    QByteArray buffer(L, '\0');
    ReadRaw(buffer.data(), static_cast<std::size_t>(L));
    return QString::fromLatin1(buffer);
}

bool FileStream::ReadByteArray(std::vector<std::uint8_t>& B, std::int32_t Length) {
    if (Length < 1) throw FileStreamRangeError("FileStream::ReadByteArray: length below 1");
    B.assign(static_cast<std::size_t>(Length), 0);
    return ReadRaw(B.data(), B.size());
}

bool FileStream::WriteByte(std::uint8_t Value) { return WriteLE(Value); }
bool FileStream::WriteInteger(std::int16_t Value) { return WriteLE(Value); }
bool FileStream::WriteLong(std::int32_t Value) { return WriteLE(Value); }
bool FileStream::WriteCurrency(std::int64_t Value) { return WriteLE(Value); }
bool FileStream::WriteSingle(float Value) { return WriteLE(Value); }
bool FileStream::WriteDouble(double Value) { return WriteLE(Value); }
bool FileStream::WriteDate(double Value) { return WriteLE(Value); }

bool FileStream::WriteString(const QString& Value, std::int32_t Length, bool WriteLengthMarker) {
    const QByteArray bytes = Value.toLatin1();
    if (Length == 0) Length = static_cast<std::int32_t>(Value.size());
    if (!Value.isEmpty() && (Length < 0 || Length > bytes.size()))
        throw FileStreamRangeError("FileStream::WriteString: length outside the text");
    if (WriteLengthMarker) WriteLong(Length);
    if (Value.isEmpty()) throw FileStreamRangeError("FileStream::WriteString: empty text");
    return WriteRaw(bytes.constData(), static_cast<std::size_t>(Length));
}

bool FileStream::WriteByteArray(const std::vector<std::uint8_t>& B) {
    if (B.empty()) throw FileStreamRangeError("FileStream::WriteByteArray: empty array");
    return WriteRaw(B.data(), B.size());
}

std::int32_t FileStream::ReadVLQ() {
    std::uint8_t b = ReadByte();
    std::int32_t value = b & 0x7F;
    while (b & 0x80) {
        b = ReadByte();
        if (value >= 0x1000000) throw FileStreamOverflowError("FileStream::ReadVLQ: quantity exceeds 32 bits");
        value = (value * 128) | (b & 0x7F);
    }
    return value;
}

void FileStream::WriteVLQ(std::int32_t p_lValue) {
    std::int32_t group[4];
    int count = 0;
    std::int32_t value = p_lValue;
    for (int i = 0; i < 4; ++i) {
        group[i] = value & 0x7F;
        value /= 128;  // truncates toward zero, so a negative value keeps one group
        if (value > 0) ++count;
    }
    if (count == 4) throw FileStreamRangeError("FileStream::WriteVLQ: value needs more than four bytes");
    for (int i = count; i >= 1; --i) WriteByte(static_cast<std::uint8_t>(group[i] | 0x80));
    WriteByte(static_cast<std::uint8_t>(group[0]));
}

bool FileStream::CloseFile() {
    if (fd_ < 0) return false;
    const int fd = std::exchange(fd_, -1);
    if (const std::unique_ptr<QSaveFile> file = std::move(replacement_)) {
        if (writeFailed_) return false;  // discarded when `file` goes
        if (file->commit()) return true;
        error_ = file->errorString();
        return false;
    }
    if (::close(fd) == 0) return true;
    Failed(errno);
    return false;
}

bool FileStream::SetPosition(std::int64_t P) {
    // A negative offset is refused and the position stays where it was.
    if (fd_ < 0 || P < 0) return false;
    return ::lseek(fd_, static_cast<off_t>(P), SEEK_SET) != static_cast<off_t>(-1);
}

std::int64_t FileStream::GetPosition() const {
    if (fd_ < 0) return -1;
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    return at < 0 ? -1 : static_cast<std::int64_t>(at);
}

std::int64_t FileStream::GetLength() const {
    if (fd_ < 0) return -1;
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

bool FileStream::EndOfFile() const { return GetPosition() >= GetLength(); }

}  // namespace kivra
