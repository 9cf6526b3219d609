#pragma once
// MIDI ports of the system through RtMidi, ALSA sequencer API only (its JACK API crashes
// without a JACK server). No sequencer (CI, containers) means no ports, quietly.

#include "midi/backends/backend.h"

#include <memory>
#include <string>
#include <vector>

class RtMidiOut;
class RtMidiIn;

namespace kivra {

// "Name:Port 128:0" -> "Name:Port": a name that stays the same across sessions, at most 31 chars.
std::string StableRtMidiPortName(const std::string& name);

// True when the platform's MIDI sequencer can be reached at all.
bool MidiSequencerAvailable();

class RtMidiOutPorts : public MidiOutBackend {
public:
    RtMidiOutPorts();
    ~RtMidiOutPorts() override;
    std::vector<std::string> DeviceNames() override;
    bool Open(int id, MidiNotifier& notifier) override;
    bool Send(std::uint32_t packed) override;
    void Close() override;

    std::string OpenError() const override { return error_; }

private:
    std::string error_;  // declared first: the port's error callback writes here while it lives
    std::unique_ptr<RtMidiOut> port_;
    bool open_ = false;
};

class RtMidiInPorts : public MidiInBackend {
public:
    RtMidiInPorts();
    ~RtMidiInPorts() override;
    std::vector<std::string> DeviceNames() override;
    bool Open(int id, MidiNotifier& notifier) override;
    void Close() override;

    std::string OpenError() const override { return error_; }

private:
    std::string error_;  // declared first: the port's error callback writes here while it lives
    std::unique_ptr<RtMidiIn> port_;
    bool open_ = false;
};

}  // namespace kivra
