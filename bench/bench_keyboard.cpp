// Time from a computer-key press reaching the application (sent to the focused widget of the
// active piano window, through the keyboard hook) to the note-on reaching the MIDI backend (fake
// backend), over 10,000 presses of a one-note key and of a three-note chord key.
#include "keyboard/keyactions.h"
#include "keyboard/keyhook.h"
#include "keyboard/keymap.h"
#include "midi/backends/fake/fake_backend.h"
#include "midi/midiio.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>

#include "benchsupport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using kivra::bench::Clock;
using kivra::bench::Percentile;
using TimedOut = kivra::bench::TimedMidiOut;

namespace {



void Run(const char* label, QWidget* target, Qt::Key key, TimedOut* backend) {
    constexpr int kPresses = 10000;
    std::vector<double> micros;
    micros.reserve(kPresses);
    int missed = 0;  // presses that sent nothing: the figures would be meaningless
    for (int i = 0; i < kPresses; ++i) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
        const auto start = Clock::now();
        QApplication::sendEvent(target, &press);
        if (backend->lastSend < start) ++missed;
        micros.push_back(kivra::bench::MicrosBetween(start, backend->lastSend));
        QApplication::sendEvent(target, &release);
        if (i % 64 == 0) QCoreApplication::processEvents();
    }
    if (missed) std::printf("%s: %d presses sent nothing\n", label, missed);
    std::printf("%-34s median %7.2f us   p99 %7.2f us   max %8.2f us   (goal p99 < 50 us)\n", label,
                Percentile(micros, 0.5), Percentile(micros, 0.99), Percentile(micros, 1.0));
}

}  // namespace

int main(int argc, char** argv) {
    kivra::bench::PrintLoadAverage();
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    TimedOut* backend = kivra::bench::OpenTimedOutput();

    kivra::g_KeyMap[0x5A] = kivra::KeyMapEntry{1, 1, {0}};
    kivra::g_KeyMap[0x41] = kivra::KeyMapEntry{1, 3, {0, 4, 7}};
    QWidget piano;  // stands in for the piano window: any active top-level window
    auto* edit = new QLineEdit(&piano);
    piano.show();
    piano.activateWindow();
    if (!QTest::qWaitForWindowActive(&piano)) {
        std::printf("the stand-in window never became active\n");
        return 1;
    }
    edit->setFocus();
    kivra::InstallKeyboardHook(&piano);

    Run("key press -> note-on (1 note)", edit, Qt::Key_Z, backend);
    Run("key press -> last note-on (chord 3)", edit, Qt::Key_A, backend);
    kivra::RemoveKeyboardHook();
    kivra::ReleaseMidi();
    return 0;
}
