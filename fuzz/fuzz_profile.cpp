// The key-map profile loader on arbitrary bytes: it must end, stay inside the file and keep every
// entry's note count equal to its notes.
#include "keyboard/keymap.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QString path = QDir::tempPath() + QStringLiteral("/kivra-fuzz-profile-%1.kmp").arg(::getpid());
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 0;
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    kivra::KeyMap map{};
    const kivra::ProfileLoad r = kivra::LoadKeyMapFile(path, map);
    if (r.offset < 0 || static_cast<std::size_t>(r.offset) > size) std::abort();
    for (const kivra::KeyMapEntry& e : map)
        if (e.NoteCount != e.Notes.size()) std::abort();
    return 0;
}
