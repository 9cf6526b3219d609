#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace kivra::test {

void ProcessEvents() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

FakeMidi::FakeMidi(bool open, std::vector<std::string> outNames, std::vector<std::string> inNames) {
    auto o = std::make_unique<FakeMidiOut>(std::move(outNames));
    auto i = std::make_unique<FakeMidiIn>(std::move(inNames));
    out = o.get();
    in = i.get();
    ResetNoteState();
    SetMidiBackends(std::move(o), std::move(i));
    if (open) {
        OpenMIDIOut(0);
        ProcessEvents();
    }
}

FakeMidi::~FakeMidi() {
    ReleaseMidi();
    ResetNoteState();
}

FileSizeLimit::FileSizeLimit(long long bytes) : handler_(std::signal(SIGXFSZ, SIG_IGN)) {
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    old_[0] = static_cast<long long>(old.rlim_cur);
    old_[1] = static_cast<long long>(old.rlim_max);
    const rlimit tiny{static_cast<rlim_t>(bytes), old.rlim_max};
    setrlimit(RLIMIT_FSIZE, &tiny);
}

FileSizeLimit::~FileSizeLimit() {
    const rlimit old{static_cast<rlim_t>(old_[0]), static_cast<rlim_t>(old_[1])};
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, handler_);
}

ReadOnlyFolder::ReadOnlyFolder(const QString& folder) : folder_(folder) {
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    auto refused = [&] {
        QFile probe(QDir(folder).filePath(QStringLiteral(".probe")));
        if (!probe.open(QIODevice::WriteOnly)) return true;
        probe.remove();
        return false;
    };
    made_ = refused() || (SetImmutable(true) && refused());
}

ReadOnlyFolder::~ReadOnlyFolder() {
    SetImmutable(false);
    QFile::setPermissions(folder_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

bool ReadOnlyFolder::SetImmutable(bool on) {
    const int fd = ::open(QFile::encodeName(folder_).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return ok;
}

}  // namespace kivra::test
