#include "midi/backends/fake/fake_backend.h"

#include "midi/message.h"
#include "midi/notifier.h"

#include <cstdio>

namespace kivra {

std::string ShortMessageHex(std::uint32_t packed) {
    const int count = ShortMessageLength(packed & 0xFFu);
    std::string out;
    char buf[4];
    for (int i = 0; i < count; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>((packed >> (8 * i)) & 0xFF));
        if (!out.empty()) out += ' ';
        out += buf;
    }
    return out;
}

bool FakeMidiOut::Open(int id, MidiNotifier& notifier) {
    openCalls.push_back(id);
    if (refuseOpen || id < 0 || id >= static_cast<int>(names.size())) return false;
    openedId = id;
    notifier_ = &notifier;
    if (!loads) notifier.PostOutputOpened();
    return true;
}

void FakeMidiOut::FinishLoading(const std::string& error) {
    if (!notifier_) return;
    if (error.empty()) notifier_->PostOutputOpened();
    else notifier_->PostOutputFailed(error);
}

bool FakeMidiOut::Send(std::uint32_t packed) {
    if (refuseSend || openedId < 0) return false;
    sent.push_back(packed);
    return true;
}

void FakeMidiOut::Close() {
    openedId = -1;
    notifier_ = nullptr;
}

std::string FakeMidiOut::SentHex() const {
    std::string out;
    for (auto m : sent) {
        if (!out.empty()) out += ' ';
        out += ShortMessageHex(m);
    }
    return out;
}

bool FakeMidiIn::Open(int id, MidiNotifier& notifier) {
    openCalls.push_back(id);
    if (refuseOpen || id < 0 || id >= static_cast<int>(names.size())) return false;
    openedId = id;
    notifier_ = &notifier;
    return true;
}

void FakeMidiIn::Close() {
    openedId = -1;
    notifier_ = nullptr;
}

void FakeMidiIn::Inject(std::uint32_t packed) {
    if (notifier_) notifier_->PostInputData(packed);
}

}  // namespace kivra
