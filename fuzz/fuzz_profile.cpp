// The key-map profile loader on arbitrary bytes: it must end, stay inside the bytes and keep every
// entry's note count equal to its notes.
#include "keyboard/keymap.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    kivra::KeyMap map{};
    const kivra::ProfileLoad r = kivra::LoadKeyMapBytes(bytes, map);
    if (r.offset < 0 || static_cast<std::size_t>(r.offset) > size) std::abort();
    for (const kivra::KeyMapEntry& e : map)
        if (e.NoteCount != e.Notes.size()) std::abort();
    return 0;
}
