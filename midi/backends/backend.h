#pragma once
// The MIDI backend interface: one interface per direction. Device ids are 0..count-1 at the
// moment of the lookup; names are at most 31 characters. Backends report asynchronous events
// (output opened or failed, input data) only through the MidiNotifier, which hops to the UI thread.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kivra {

class MidiNotifier;
class SynthControls;

class MidiOutBackend {
public:
    virtual ~MidiOutBackend() = default;
    virtual std::vector<std::string> DeviceNames() = 0;
    // Opens device `id`; on success the backend later posts OutputOpened to `notifier`.
    virtual bool Open(int id, MidiNotifier& notifier) = 0;
    // Sends one packed short message (status in bits 0-7, data 1 in 8-15, data 2 in 16-23).
    virtual bool Send(std::uint32_t packed) = 0;
    virtual void Close() = 0;  // harmless when nothing is open
    // Why the last Open failed, in words for the user ("no SoundFont was found..."); empty when
    // it succeeded or the backend cannot tell.
    virtual std::string OpenError() const { return {}; }
    // True when the last Open that succeeded goes on loading in the background (a SoundFont):
    // its outcome comes later, OutputOpened or OutputFailed, and until then nothing is sent.
    virtual bool LoadsInBackground() const { return false; }
    // The built-in synthesizer's controls while it is the open device; null for any other.
    virtual SynthControls* Controls() { return nullptr; }
};

class MidiInBackend {
public:
    virtual ~MidiInBackend() = default;
    virtual std::vector<std::string> DeviceNames() = 0;
    // Opens and starts device `id`; every received short message is posted as InputData.
    virtual bool Open(int id, MidiNotifier& notifier) = 0;
    virtual void Close() = 0;  // harmless when nothing is open
    virtual std::string OpenError() const { return {}; }  // as for the output
};

// Device names as the device lists show them: at most 31 characters.
std::string DeviceName31(std::string name);

}  // namespace kivra
