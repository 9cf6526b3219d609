#pragma once
// The band room: the pianos of one relay share the Music Maker's transport. With Band Play on,
// Play pressed on any of them starts every member's Music Maker on the same beat, at the tempo of
// the one who pressed it, each playing its own song on its own link channel; Stop stops them all.
// Members that left Band Play off ignore it all. Runs on the UI thread; talks only through the
// link's transport messages (wire.h), which no piano sends to an output.
//
// The common start. The relay timestamps nothing, so the start is a count-in of one bar at the
// presser's tempo: the presser starts one bar after its press, and a member that hears the start
// message starts one bar after it arrived less the estimated time it took on its way. That time
// is half the shortest of the last round trips of the member's pings to the presser (asked four times
// a second, answered by every member): the shortest, because a round trip only ever grows with
// what else the machines did meanwhile. The network delay must stay below one bar. Stop acts at
// once on arrival: it ends the sound, and nobody waits for silence.

#include "link/linkclient.h"
#include "musicmaker/musicmaker.h"

#include <QObject>
#include <QTimer>

#include <array>
#include <deque>
#include <optional>

namespace kivra {

class Band : public QObject, public TransportShare {
    Q_OBJECT
public:
    static constexpr int kBeatsPerBar = 4;
    static constexpr int kPingIntervalMs = 250;
    static constexpr std::size_t kRoundTripsKept = 16;

    explicit Band(LinkClient& link, QObject* parent = nullptr);

    // Band Play: off at start.
    void SetEnabled(bool on);
    bool Enabled() const { return enabled_; }

    // TransportShare: Play and Stop pressed on this piano go to the band while it plays in one.
    std::optional<SharedStart> PlayPressed(int tempo) override;
    void StopPressed() override;

    // The estimated one-way time from the member on `channel` to this piano, in milliseconds;
    // 0 until one of its answers came back.
    double DelayMs(int channel) const;
    static double BarMs(int tempo) { return kBeatsPerBar * 60000.0 / tempo; }

signals:
    // Another member pressed Play or Stop.
    void startRequested(const kivra::SharedStart& start);
    void stopRequested();

private:
    bool Playing() const { return enabled_ && link_.Connected(); }
    void OnTransport(quint32 message, double receivedMs);
    void Ping();
    void UpdatePinging();

    LinkClient& link_;
    bool enabled_ = false;
    QTimer pingTimer_;
    unsigned pingSequence_ = 0;
    std::array<double, 8> pingSentMs_{};  // by sequence number
    std::array<std::deque<double>, 16> roundTrips_;  // by member's channel, newest last
};

}  // namespace kivra
