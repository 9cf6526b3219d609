#include "musicmaker/frmmusicmaker.h"

#include "app/dialogs.h"
#include "app/twips.h"
#include "musicmaker/musicmaker.h"
#include "musicmaker/steplist.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStatusBar>

#include <type_traits>

namespace kivra {

namespace {

QRect Twips(int left, int top, int width, int height) {
    return {TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width), TwipsToPixels(height)};
}

template <typename W, typename... Args>
W* Place(QWidget* parent, const char* name, QRect rect, Args&&... args) {
    auto* w = new W(std::forward<Args>(args)..., parent);
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(rect);
    return w;
}

QScrollBar* PlaceScrollBar(QWidget* parent, const char* name, QRect rect, int minimum, int maximum) {
    auto* bar = Place<QScrollBar>(parent, name, rect, Qt::Horizontal);
    bar->setRange(minimum, maximum);
    return bar;
}

}  // namespace

frmMusicMaker::frmMusicMaker(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("frmMusicMaker"));
    setWindowTitle(QStringLiteral("Kivra - Music Maker"));
    MusicMaker& core = TheMusicMaker();

    auto* client = new QWidget(this);
    client->setFixedSize(TwipsToPixels(8655), TwipsToPixels(5175));
    setCentralWidget(client);

    cmdPrevTrack = Place<QPushButton>(client, "cmdPrevTrack", Twips(120, 120, 135, 495), QStringLiteral("<"));
    cmdNextTrack = Place<QPushButton>(client, "cmdNextTrack", Twips(6240, 120, 135, 495), QStringLiteral(">"));
    for (int i = 0; i < 5; ++i) {
        const QByteArray button = "cmdTrack" + QByteArray::number(i);
        const QByteArray list = "lstTrack" + QByteArray::number(i);
        cmdTrack[i] = Place<QPushButton>(client, button.constData(), Twips(240 + 1200 * i, 120, 1215, 495));
        lstTrack[i] = Place<StepList>(client, list.constData(), Twips(240 + 1200 * i, 720, 1215, 4350));
        connect(cmdTrack[i], &QPushButton::clicked, this, [this, i] { TrackClicked(i); });
        connect(lstTrack[i], &StepList::released, this, [this, i] { ListReleased(i); });
    }
    cmdPrevTrack->raise();
    cmdNextTrack->raise();

    fraSongOptions = Place<QGroupBox>(client, "fraSongOptions", Twips(6480, 120, 2055, 2055), QStringLiteral("Song Options"));
    lblNumTracks = Place<QLabel>(fraSongOptions, "lblNumTracks", Twips(120, 240, 1815, 255), QStringLiteral("Number of Tracks: 1"));
    hscTracks = PlaceScrollBar(fraSongOptions, "hscTracks", Twips(120, 480, 1815, 255), 1, 32);
    lblTempo = Place<QLabel>(fraSongOptions, "lblTempo", Twips(120, 840, 1815, 255), QStringLiteral("Tempo: 120 BPM"));
    hscTempo = PlaceScrollBar(fraSongOptions, "hscTempo", Twips(120, 1080, 1815, 255), 30, 240);
    hscTempo->setSingleStep(2);
    hscTempo->setPageStep(2);
    lblNPB = Place<QLabel>(fraSongOptions, "lblNPB", Twips(120, 1440, 1815, 255), QStringLiteral("Notes Per Beat: 4"));
    hscNPB = PlaceScrollBar(fraSongOptions, "hscNPB", Twips(120, 1680, 1815, 255), 1, 255);

    fraTrackOptions = Place<QGroupBox>(client, "fraTrackOptions", Twips(6480, 2280, 2055, 1575), QStringLiteral("Track Options"));
    lblChannel = Place<QLabel>(fraTrackOptions, "lblChannel", Twips(120, 240, 1815, 255), QStringLiteral("Output Channel: 0"));
    hscChannel = PlaceScrollBar(fraTrackOptions, "hscChannel", Twips(120, 480, 1815, 255), 0, 15);

    chkRecord = Place<QCheckBox>(client, "chkRecord", Twips(6480, 4560, 2055, 255), QStringLiteral("Record"));
    chkPlay = Place<QCheckBox>(client, "chkPlay", Twips(6480, 4800, 2055, 255), QStringLiteral("Play"));
    // On Play's row, right of its caption: Play's box takes clicks on its indicator and caption only.
    chkLoop = Place<QCheckBox>(client, "chkLoop", Twips(7560, 4800, 975, 255), QStringLiteral("Loop"));

    mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    QAction* mnuNew = mnuFile->addAction(QStringLiteral("&New"));
    mnuNew->setObjectName(QStringLiteral("mnuNew"));
    mnuNew->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(mnuNew, &QAction::triggered, this, &frmMusicMaker::NewSongAsked);

    connect(cmdNextTrack, &QPushButton::clicked, this, [this] {
        if (m_lTrackOffset < g_lNumTracks - 5) {
            ++m_lTrackOffset;
            RefreshCaptions();
        }
    });
    connect(cmdPrevTrack, &QPushButton::clicked, this, [this] {
        if (m_lTrackOffset > 0) {
            --m_lTrackOffset;
            RefreshCaptions();
        }
    });
    // The refresh sets the channel bar to the track's own channel: only a different value is an edit.
    auto store = [](auto& field, int value) {
        if (field == value) return;
        field = static_cast<std::remove_reference_t<decltype(field)>>(value);
        g_bSongChanged = true;
    };
    connect(hscChannel, &QScrollBar::valueChanged, this, [this, store](int value) {
        if (g_lCurTrack >= 0 && g_lCurTrack < static_cast<int>(g_Tracks.size()))
            store(g_Tracks[static_cast<std::size_t>(g_lCurTrack)].Channel, value);
        lblChannel->setText(QStringLiteral("Output Channel: %1").arg(value));
    });
    connect(hscNPB, &QScrollBar::valueChanged, this, [this, store](int value) {
        store(g_lNotesPerBeat, value);
        lblNPB->setText(QStringLiteral("Notes Per Beat: %1").arg(value));
    });
    connect(hscTempo, &QScrollBar::valueChanged, this, [this, store](int value) {
        store(g_lTempo, value);
        lblTempo->setText(QStringLiteral("Tempo: %1 BPM").arg(value));
    });
    connect(hscTracks, &QScrollBar::valueChanged, this, [this](int value) {
        lblNumTracks->setText(QStringLiteral("Number of Tracks: %1").arg(value));
        SetTrackCount(value);
        RefreshCaptions();
    });

    connect(chkRecord, &QCheckBox::toggled, &core, &MusicMaker::SetRecord);
    connect(chkPlay, &QCheckBox::toggled, &core, &MusicMaker::SetPlay);
    connect(&core, &MusicMaker::recordChanged, chkRecord, &QCheckBox::setChecked);
    connect(&core, &MusicMaker::playChanged, chkPlay, &QCheckBox::setChecked);
    connect(chkLoop, &QCheckBox::toggled, &core, &MusicMaker::SetLoop);
    connect(&core, &MusicMaker::loopChanged, chkLoop, &QCheckBox::setChecked);
    chkRecord->setChecked(core.RecordChecked());
    chkPlay->setChecked(core.PlayChecked());
    chkLoop->setChecked(core.LoopChecked());

    SetSongView(this);
    ShowSong();
}

frmMusicMaker::~frmMusicMaker() {
    if (GetSongView() == this) SetSongView(nullptr);
}

void frmMusicMaker::ShowSong() {
    if (g_lNumTracks < 1) NewSong();
    // The bars only show the song here: a value outside a bar's range must not be clamped back
    // into the song, so their change handling is held off and the labels are written directly.
    {
        const QSignalBlocker tracks(hscTracks), tempo(hscTempo), notesPerBeat(hscNPB);
        hscTracks->setValue(g_lNumTracks);
        hscTempo->setValue(g_lTempo);
        hscNPB->setValue(g_lNotesPerBeat);
    }
    lblNumTracks->setText(QStringLiteral("Number of Tracks: %1").arg(g_lNumTracks));
    lblTempo->setText(QStringLiteral("Tempo: %1 BPM").arg(g_lTempo));
    lblNPB->setText(QStringLiteral("Notes Per Beat: %1").arg(g_lNotesPerBeat));
    RefreshCaptions();
    lblChannel->setText(QStringLiteral("Output Channel: %1").arg(hscChannel->value()));
}

void frmMusicMaker::RefreshCaptions() {
    for (int i = 0; i < static_cast<int>(cmdTrack.size()); ++i) {
        const int n = m_lTrackOffset + i + 1;
        if (n > g_lNumTracks) {
            cmdTrack[i]->setText(QStringLiteral("-"));
            lstTrack[i]->SetRows(-1, 0);
            continue;
        }
        cmdTrack[i]->setText(QStringLiteral("Track %1").arg(n));
        lstTrack[i]->SetRows(n - 1, g_lNumSteps);
        lstTrack[i]->SelectRow(g_lCurStep);
    }
    hscChannel->setValue(TheMusicMaker().CurrentTrackChannel());
}

void frmMusicMaker::TrackClicked(int index) {
    // A button captioned "-" names no track: MusicMaker ignores it.
    TheMusicMaker().PlayTrackAlone(m_lTrackOffset + index);
}

void frmMusicMaker::ListReleased(int index) {
    const int t = m_lTrackOffset + index;
    const int row = lstTrack[index]->SelectedRow();
    // A release over an empty list has no row to move the cursor to.
    if (t >= g_lNumTracks || row < 0) return;
    g_lCurTrack = t;
    g_lCurStep = row;
    MusicMaker& core = TheMusicMaker();
    if (core.RecordChecked()) {
        if (PianoPort* piano = GetPianoPort())
            piano->UpdateInstrument(g_bytChannelPatch[static_cast<std::size_t>(core.CurrentTrackChannel() & 15)]);
    }
    RefreshCaptions();
}

void frmMusicMaker::NewSongAsked() {
    if (g_lNumSteps > 0 &&
        !UserDialogs().Ask(QStringLiteral("New Song"), QStringLiteral("Start a new song? The current song will be lost.")))
        return;
    NewSong();
    TheMusicMaker().SetSoloTrack(-1);
    // The new song has one track: show it rather than a view scrolled past it.
    m_lTrackOffset = 0;
    ShowSong();
    ShowStatus(QString());
    emit songStarted();
}

void frmMusicMaker::ShowStatus(const QString& text) {
    if (!lblStatus) {
        if (text.isEmpty()) return;
        // A label rather than a status message: hovering a menu item would clear a message.
        lblStatus = new QLabel(statusBar());
        lblStatus->setObjectName(QStringLiteral("lblStatus"));
        statusBar()->addWidget(lblStatus, 1);
    }
    lblStatus->setText(text);
    lblStatus->setToolTip(text);
}

void frmMusicMaker::closeEvent(QCloseEvent* event) {
    // The song outlives the window: closing only hides it, with Record and Play switched off.
    MusicMaker& core = TheMusicMaker();
    core.SetRecord(false);
    core.SetPlay(false);
    core.SetSoloTrack(-1);  // as a fresh window would start: all tracks play
    event->accept();
}

}  // namespace kivra
