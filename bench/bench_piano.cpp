// Time from a mouse press delivered to a piano key to the note-on reaching the MIDI backend
// (fake backend), over 10,000 presses, with the real piano window and the real note routing.
#include "app/frmpiano.h"
#include "app/pianokey.h"
#include "midi/backends/fake/fake_backend.h"
#include "midi/midiio.h"
#include "benchsupport.h"

#include <QApplication>
#include <QMouseEvent>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using kivra::bench::Clock;
using kivra::bench::Percentile;
using TimedOut = kivra::bench::TimedMidiOut;

int main(int argc, char** argv) {
    kivra::bench::PrintLoadAverage();
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    TimedOut* backend = kivra::bench::OpenTimedOutput();

    kivra::frmPiano piano;
    piano.show();
    QCoreApplication::processEvents();

    constexpr int kPresses = 10000;
    std::vector<double> micros;
    micros.reserve(kPresses);
    for (int i = 0; i < kPresses; ++i) {
        kivra::PianoKey* key = piano.cmdNote(36 + i % 48);
        const QPointF at(key->width() / 2.0, key->height() * 0.8);
        QMouseEvent press(QEvent::MouseButtonPress, at, key->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, key->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        const auto start = Clock::now();
        QApplication::sendEvent(key, &press);
        micros.push_back(kivra::bench::MicrosBetween(start, backend->lastSend));
        QApplication::sendEvent(key, &release);
        QCoreApplication::processEvents();  // lets the key repaint, as a running program would
        backend->sent.clear();
    }
    std::printf("mouse press to backend over %d presses: median %.2f us, p99 %.2f us, max %.2f us\n", kPresses,
                Percentile(micros, 0.5), Percentile(micros, 0.99), Percentile(micros, 1.0));
    kivra::ReleaseMidi();
    return 0;
}
