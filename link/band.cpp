#include "link/band.h"

#include "musicmaker/stepsender.h"

#include <algorithm>

namespace kivra {

namespace {
// The playback's own clock: a start time given to the Music Maker is on it.
double NowMs() { return StepSender::NowMs(); }
}  // namespace

Band::Band(LinkClient& link, QObject* parent) : QObject(parent), link_(link), pingTimer_(this) {
    pingTimer_.setInterval(kPingIntervalMs);
    connect(&pingTimer_, &QTimer::timeout, this, &Band::Ping);
    connect(&link_, &LinkClient::transportReceived, this, &Band::OnTransport);
    connect(&link_, &LinkClient::stateChanged, this, &Band::UpdatePinging);
}

void Band::SetEnabled(bool on) {
    enabled_ = on;
    UpdatePinging();
}

void Band::UpdatePinging() {
    if (Playing() == pingTimer_.isActive()) return;
    if (!Playing()) {
        pingTimer_.stop();
        roundTrips_ = {};  // another link, another room
        return;
    }
    pingTimer_.start();
    Ping();
}

void Band::Ping() {
    pingSequence_ = (pingSequence_ + 1) % pingSentMs_.size();
    pingSentMs_[pingSequence_] = NowMs();
    link_.SendMessage(PackShortMessage(kBandPingStatus, static_cast<int>(pingSequence_ << 4) | link_.Channel()));
}

double Band::DelayMs(int channel) const {
    const auto& trips = roundTrips_[static_cast<std::size_t>(channel & 15)];
    return trips.empty() ? 0 : *std::min_element(trips.begin(), trips.end()) / 2;
}

std::optional<SharedStart> Band::PlayPressed(int tempo) {
    if (!Playing()) return std::nullopt;
    link_.SendMessage(BandStartMessage(tempo, link_.Channel()));
    return SharedStart{NowMs() + BarMs(tempo), tempo, link_.Channel()};
}

void Band::StopPressed() {
    if (Playing()) link_.SendMessage(kBandStopStatus);
}

void Band::OnTransport(quint32 message, double receivedMs) {
    if (!Playing()) return;
    const unsigned id = (message >> 8) & 0x7Fu;
    switch (message & 0xFFu) {
        case kBandStartStatus: {
            const int tempo = std::clamp(BandStartTempo(message), 30, 240);
            const double at = receivedMs + BarMs(tempo) - DelayMs(BandStartChannel(message));
            emit startRequested({at, tempo, link_.Channel()});
            break;
        }
        case kBandStopStatus: emit stopRequested(); break;
        case kBandPingStatus: link_.SendMessage(PackShortMessage(kBandPongStatus, static_cast<int>(id), link_.Channel())); break;
        case kBandPongStatus: {
            if ((id & 15) != static_cast<unsigned>(link_.Channel())) break;  // another member's ping
            auto& trips = roundTrips_[(message >> 16) & 15];
            trips.push_back(receivedMs - pingSentMs_[id >> 4]);
            if (trips.size() > kRoundTripsKept) trips.pop_front();
            break;
        }
    }
}

}  // namespace kivra
