// JACK through libjack: the server check and the program's own ports.
#include "midi/backends/jack/jack_ports.h"

#include "midi/message.h"
#include "midi/notifier.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <QLoggingCategory>

#include <array>

namespace kivra {
namespace {

Q_LOGGING_CATEGORY(lcJack, "kivra.jack", QtWarningMsg)

// libjack prints to standard error unless told otherwise; a missing server is no error of ours.
void QuietJack() {
    static const bool quiet = [] {
        jack_set_error_function([](const char* text) { qCDebug(lcJack) << text; });
        jack_set_info_function([](const char* text) { qCDebug(lcJack) << text; });
        return true;
    }();
    (void)quiet;
}

struct ClientCloser {
    void operator()(jack_client_t* client) const { jack_client_close(client); }
};
using ClientPtr = std::unique_ptr<jack_client_t, ClientCloser>;

ClientPtr OpenClient(const std::string& name) {
    QuietJack();
    return ClientPtr(jack_client_open(name.c_str(), JackNoStartServer, nullptr));
}

// Room for this many queued messages between two cycles; more are dropped.
constexpr std::size_t kQueuedMessages = 1024;
constexpr std::size_t kRecordBytes = 4;  // length, then up to three bytes

}  // namespace

bool JackServerRunning() { return OpenClient("Kivra probe") != nullptr; }

struct JackVirtualPorts::State {
    MidiNotifier& input;
    // Before the client, so that it goes after the client's process thread has stopped.
    std::unique_ptr<jack_ringbuffer_t, decltype(&jack_ringbuffer_free)> queue{nullptr, &jack_ringbuffer_free};
    ClientPtr client;
    jack_port_t* out = nullptr;
    jack_port_t* in = nullptr;

    // On JACK's process thread. Posting allocates, as RtMidi's JACK input does in the same place.
    static int Process(jack_nframes_t frames, void* self) {
        auto& s = *static_cast<State*>(self);
        void* outBuffer = jack_port_get_buffer(s.out, frames);
        jack_midi_clear_buffer(outBuffer);
        std::array<unsigned char, kRecordBytes> record{};
        while (jack_ringbuffer_read_space(s.queue.get()) >= kRecordBytes) {
            jack_ringbuffer_read(s.queue.get(), reinterpret_cast<char*>(record.data()), kRecordBytes);
            jack_midi_event_write(outBuffer, 0, record.data() + 1, record[0]);
        }
        void* inBuffer = jack_port_get_buffer(s.in, frames);
        const jack_nframes_t count = jack_midi_get_event_count(inBuffer);
        for (jack_nframes_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, inBuffer, i) != 0) continue;
            if (const std::uint32_t packed = PackReceivedBytes(event.buffer, event.size)) s.input.PostInputData(packed);
        }
        return 0;
    }
};

JackVirtualPorts::JackVirtualPorts(const std::string& clientName, MidiNotifier& input)
    : state_(std::make_unique<State>(input)) {
    State& s = *state_;
    s.client = OpenClient(clientName);
    if (!s.client) return;
    s.queue.reset(jack_ringbuffer_create(kQueuedMessages * kRecordBytes));
    s.out = jack_port_register(s.client.get(), "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    s.in = jack_port_register(s.client.get(), "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (!s.queue || !s.out || !s.in || jack_set_process_callback(s.client.get(), &State::Process, &s) != 0 ||
        jack_activate(s.client.get()) != 0) {
        qCWarning(lcJack) << "the JACK ports could not be made";
        s.client.reset();
    }
}

JackVirtualPorts::~JackVirtualPorts() = default;

bool JackVirtualPorts::IsOpen() const { return state_->client != nullptr; }

bool JackVirtualPorts::Send(std::uint32_t packed) {
    if (!IsOpen()) return false;
    const ShortMessage m = UnpackShortMessage(packed);
    const int length = ShortMessageLength(m.status);
    if (length == 0 || jack_ringbuffer_write_space(state_->queue.get()) < kRecordBytes) return false;
    const std::array<unsigned char, kRecordBytes> record{static_cast<unsigned char>(length), m.status, m.data1, m.data2};
    jack_ringbuffer_write(state_->queue.get(), reinterpret_cast<const char*>(record.data()), kRecordBytes);
    return true;
}

}  // namespace kivra
