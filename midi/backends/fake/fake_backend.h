#pragma once
// A recording fake standing in for MIDI hardware in tests. Like a driver, it reports "opened"
// later, through the notifier, not from inside Open.

#include "midi/backends/backend.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kivra {

class FakeMidiOut : public MidiOutBackend {
public:
    explicit FakeMidiOut(std::vector<std::string> names = {"Kivra Software Synth"}) : names(std::move(names)) {}

    std::vector<std::string> DeviceNames() override { return names; }
    bool Open(int id, MidiNotifier& notifier) override;
    bool Send(std::uint32_t packed) override;
    void Close() override;
    std::string OpenError() const override { return openError; }
    bool LoadsInBackground() const override { return loads && openedId >= 0; }
    // As a SoundFont's loader ends: posts "opened", or "failed" with `error` when it is not empty.
    void FinishLoading(const std::string& error = {});

    std::vector<std::string> names;
    bool refuseOpen = false;
    bool loads = false;  // Open loads in the background until FinishLoading
    std::string openError;  // what OpenError() says
    bool refuseSend = false;
    int openedId = -1;             // -1 while closed
    std::vector<int> openCalls;    // every id Open was asked for
    std::vector<std::uint32_t> sent;
    // Sent messages as bytes, 2 or 3 per message as they go on the wire ("90 3D 64").
    std::string SentHex() const;

private:
    MidiNotifier* notifier_ = nullptr;
};

class FakeMidiIn : public MidiInBackend {
public:
    explicit FakeMidiIn(std::vector<std::string> names = {}) : names(std::move(names)) {}

    std::vector<std::string> DeviceNames() override { return names; }
    bool Open(int id, MidiNotifier& notifier) override;
    void Close() override;

    // As a driver's input thread does: posts a received message. Callable from any thread.
    void Inject(std::uint32_t packed);

    std::vector<std::string> names;
    bool refuseOpen = false;
    int openedId = -1;
    std::vector<int> openCalls;

private:
    MidiNotifier* notifier_ = nullptr;
};

// The bytes of one packed message as a device takes them (ShortMessageLength of its status).
std::string ShortMessageHex(std::uint32_t packed);

}  // namespace kivra
