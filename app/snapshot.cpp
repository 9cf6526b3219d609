// kivra-snapshot: renders the piano window to PNG files, offscreen, so a person can look at what
// it shows. Usage: kivra-snapshot [folder]  (default "snapshots").
// Written files: piano-start.png, piano-lit.png (keys lit on channels 0, 1 and 9 at velocities
// 30 and 127), piano-drum.png (Drum Mode checked), music-maker.png (a small recorded song),
// key-config.png, devices.png and link.png. MIDI goes to fake devices.
// The same files follow in two subfolders, each written by a second run of the tool: "dark" under
// the Fusion style with a dark palette, "scale2" at twice the size (QT_SCALE_FACTOR=2).
#include "app/datadir.h"
#include "app/translations.h"
#include "app/frmpiano.h"
#include "keyboard/frmkeyconfig.h"
#include "keyboard/keymap.h"
#include "link/frmlink.h"
#include "midi/backends/fake/fake_backend.h"
#include "midi/frmdevices.h"
#include "midi/frmsound.h"
#include "midi/midiio.h"
#include "musicmaker/frmmusicmaker.h"
#include "musicmaker/musicmaker.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPalette>
#include <QProcess>
#include <QToolButton>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

bool Save(QWidget& window, const QDir& folder, const char* name) {
    const QString path = folder.filePath(QString::fromLatin1(name));
    if (!window.grab().save(path, "PNG")) {
        std::fprintf(stderr, "kivra-snapshot: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// The Music Maker with a small song recorded as a player would: a held chord, a break, an empty
// step, then a single note; a second track; the cursor row on the empty step.
bool SaveMusicMaker(const QDir& folder) {
    kivra::InstallMusicMaker();
    kivra::NewSong();
    kivra::SetTrackCount(2);
    const int notesDown = kivra::g_lNotesDown;
    kivra::g_lNotesDown = 1;
    kivra::RecordNote(60);
    kivra::g_lNotesDown = 2;
    kivra::RecordNote(64);
    kivra::RecordNote(67);
    kivra::g_lNotesDown = 1;
    kivra::InsertBreak();
    kivra::InsertSpace();
    kivra::RecordNote(62);
    kivra::SetCursor(1, 0);
    kivra::RecordNote(48);
    kivra::InsertSpace();
    kivra::RecordNote(55);
    kivra::g_lNotesDown = notesDown;
    kivra::SetCursor(0, 2);  // the cursor row: the empty step

    kivra::frmMusicMaker window;
    window.ShowSong();
    window.show();
    QCoreApplication::processEvents();  // lets the lists learn their final size
    const bool ok = Save(window, folder, "music-maker.png");
    window.close();
    return ok;
}

// A dark theme as a desktop's dark scheme gives it: light text on dark grey.
QPalette DarkPalette() {
    const QColor window(53, 53, 53), base(35, 35, 35), text(230, 230, 230), dimmed(127, 127, 127);
    QPalette p(window);
    for (auto role : {QPalette::Window, QPalette::Button}) p.setColor(role, window);
    for (auto role : {QPalette::Base, QPalette::ToolTipBase}) p.setColor(role, base);
    p.setColor(QPalette::AlternateBase, window.darker(110));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::ToolTipText, QPalette::BrightText})
        p.setColor(role, text);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) p.setColor(QPalette::Disabled, role, dimmed);
    p.setColor(QPalette::Highlight, QColor(42, 130, 218));
    p.setColor(QPalette::HighlightedText, Qt::white);
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // A second argument names the variant this run writes: "dark" or "scale2".
    const char* variant = argc > 2 ? argv[2] : nullptr;
    if (variant && std::strcmp(variant, "scale2") == 0) qputenv("QT_SCALE_FACTOR", "2");  // before the application
    QApplication app(argc, argv);
    if (variant && std::strcmp(variant, "dark") == 0) {
        QApplication::setStyle(QStringLiteral("Fusion"));
        QApplication::setPalette(DarkPalette());
    }
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("snapshots"));
    if (!QDir().mkpath(folder.path())) {
        std::fprintf(stderr, "kivra-snapshot: cannot create %s\n", qPrintable(folder.path()));
        return 1;
    }
    kivra::SetDataDir(kivra::FindDataDir());
    kivra::InstallTranslations();  // the user's language, as the program picks it (LANGUAGE=de for German)
    // The shipped default key map, so that the keys show their computer-key captions.
    kivra::SetInstalledProfilesDir(kivra::DataPath(QStringLiteral("keymaps")));
    kivra::LoadKeyMapFile(kivra::DataPath(QStringLiteral("keymaps/default.kmp")), kivra::g_KeyMap);

    kivra::SetMidiBackends(
        std::make_unique<kivra::FakeMidiOut>(std::vector<std::string>{"Kivra Software Synth", "USB MIDI Interface"}),
        std::make_unique<kivra::FakeMidiIn>(std::vector<std::string>{"USB Keyboard"}));
    kivra::OpenMIDIOut(0);
    QCoreApplication::processEvents();  // the "opened" notification: keys light from here on

    bool ok = true;
    {
        kivra::frmPiano piano;
        piano.show();
        QCoreApplication::processEvents();
        ok = Save(piano, folder, "piano-start.png") && ok;

        const struct { int note, velocity, channel; } lit[] = {
            {60, 127, 0}, {64, 30, 0}, {61, 127, 0}, {66, 30, 0},  // white and black, loud and soft
            {67, 127, 1}, {70, 30, 1},                             // channel 1
            {36, 127, 9}, {42, 30, 9}, {100, 127, 9},              // the drum channel
        };
        for (const auto& k : lit) kivra::PlayNote(k.note, k.velocity, k.channel);
        ok = Save(piano, folder, "piano-lit.png") && ok;

        piano.chkDrumMode()->click();  // releases every note, as a user's click does
        QCoreApplication::processEvents();
        ok = Save(piano, folder, "piano-drum.png") && ok;
        piano.chkDrumMode()->click();

        const QSize size = piano.size();
        piano.resize(size * 3 / 2);  // enlarged by half: the keys grow with the window
        QCoreApplication::processEvents();
        ok = Save(piano, folder, "piano-large.png") && ok;
        piano.resize(size);

        ok = SaveMusicMaker(folder) && ok;
        for (auto* window : std::initializer_list<QWidget*>{new kivra::frmKeyConfig(&piano),
                                                            new kivra::frmDevices(&piano), new kivra::frmLink(&piano),
                                                            new kivra::frmSound(&piano)}) {
            window->setWindowFlag(Qt::Window, true);
            window->show();
            QCoreApplication::processEvents();
        }
        ok = Save(*piano.findChild<kivra::frmKeyConfig*>(), folder, "key-config.png") && ok;
        ok = Save(*piano.findChild<kivra::frmDevices*>(), folder, "devices.png") && ok;
        ok = Save(*piano.findChild<kivra::frmLink*>(), folder, "link.png") && ok;
        ok = Save(*piano.findChild<kivra::frmSound*>(), folder, "sound.png") && ok;
    }
    kivra::ReleaseMidi();
    if (!variant) {
        for (const char* other : {"dark", "scale2"}) {
            const QStringList args{folder.filePath(QString::fromLatin1(other)), QString::fromLatin1(other)};
            ok = QProcess::execute(QCoreApplication::applicationFilePath(), args) == 0 && ok;
        }
    }
    return ok ? 0 : 1;
}
