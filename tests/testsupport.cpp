#include "testsupport.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kivra::test {

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
