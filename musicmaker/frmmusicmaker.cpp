#include "musicmaker/frmmusicmaker.h"

#include "musicmaker/musicmaker.h"
#include "musicmaker/steplist.h"
#include "widgets/dialogs.h"
#include "widgets/twips.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QUndoStack>
#include <QStatusBar>

#include <tuple>
#include <utility>

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
    setWindowTitle(tr("Kivra - Music Maker"));
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
        connect(lstTrack[i], &StepList::released, this, [this, i](bool extend) { ListReleased(i, extend); });
        connect(lstTrack[i], &StepList::extended, this, [this, i] { ListReleased(i, true); });
    }
    cmdPrevTrack->raise();
    cmdNextTrack->raise();

    fraSongOptions = Place<QGroupBox>(client, "fraSongOptions", Twips(6480, 120, 2055, 2055), tr("Song Options"));
    lblNumTracks = Place<QLabel>(fraSongOptions, "lblNumTracks", Twips(120, 240, 1815, 255), tr("Number of Tracks: %1").arg(1));
    hscTracks = PlaceScrollBar(fraSongOptions, "hscTracks", Twips(120, 480, 1815, 255), 1, 32);
    lblTempo = Place<QLabel>(fraSongOptions, "lblTempo", Twips(120, 840, 1815, 255), tr("Tempo: %1 BPM").arg(120));
    hscTempo = PlaceScrollBar(fraSongOptions, "hscTempo", Twips(120, 1080, 1815, 255), 30, 240);
    hscTempo->setSingleStep(2);
    hscTempo->setPageStep(2);
    lblNPB = Place<QLabel>(fraSongOptions, "lblNPB", Twips(120, 1440, 1815, 255), tr("Notes Per Beat: %1").arg(4));
    hscNPB = PlaceScrollBar(fraSongOptions, "hscNPB", Twips(120, 1680, 1815, 255), 1, 255);

    fraTrackOptions = Place<QGroupBox>(client, "fraTrackOptions", Twips(6480, 2280, 2055, 1575), tr("Track Options"));
    lblChannel = Place<QLabel>(fraTrackOptions, "lblChannel", Twips(120, 240, 1815, 255), tr("Output Channel: %1").arg(0));
    hscChannel = PlaceScrollBar(fraTrackOptions, "hscChannel", Twips(120, 480, 1815, 255), 0, 15);

    // Names for screen readers where a caption does not say what a control is.
    cmdPrevTrack->setAccessibleName(tr("Previous tracks"));
    cmdNextTrack->setAccessibleName(tr("Next tracks"));
    for (auto [bar, name] : {std::pair{hscTracks, tr("Number of Tracks")}, {hscTempo, tr("Tempo")},
                             {hscNPB, tr("Notes Per Beat")}, {hscChannel, tr("Output Channel")}})
        bar->setAccessibleName(name);

    chkRecord = Place<QCheckBox>(client, "chkRecord", Twips(6480, 4560, 2055, 255), tr("Record"));
    chkPlay = Place<QCheckBox>(client, "chkPlay", Twips(6480, 4800, 2055, 255), tr("Play"));
    // On Play's row, right of its caption: Play's box takes clicks on its indicator and caption only.
    chkLoop = Place<QCheckBox>(client, "chkLoop", Twips(7560, 4800, 975, 255), tr("Loop"));

    mnuFile = menuBar()->addMenu(tr("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    QAction* mnuNew = mnuFile->addAction(tr("&New"));
    mnuNew->setObjectName(QStringLiteral("mnuNew"));
    mnuNew->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(mnuNew, &QAction::triggered, this, &frmMusicMaker::NewSongAsked);

    mnuEdit = menuBar()->addMenu(tr("&Edit"));
    mnuEdit->setObjectName(QStringLiteral("mnuEdit"));
    auto addEdit = [this](QAction* action, const char* name, QList<QKeySequence> keys) {
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcuts(keys);
        mnuEdit->addAction(action);
        return action;
    };
    // The stack's own actions follow whether there is anything to undo or redo.
    addEdit(SongHistory().createUndoAction(mnuEdit, tr("Undo")), "mnuUndo", {Qt::CTRL | Qt::Key_Z});
    addEdit(SongHistory().createRedoAction(mnuEdit, tr("Redo")), "mnuRedo",
            {Qt::CTRL | Qt::SHIFT | Qt::Key_Z, Qt::CTRL | Qt::Key_Y});
    mnuEdit->addSeparator();
    const std::tuple<const char*, const char*, QKeySequence, void (*)()> steps[] = {
        {"mnuCut", QT_TR_NOOP("Cut"), Qt::CTRL | Qt::Key_X, CutSteps},
        {"mnuCopy", QT_TR_NOOP("Copy"), Qt::CTRL | Qt::Key_C, CopySteps},
        {"mnuPaste", QT_TR_NOOP("Paste"), Qt::CTRL | Qt::Key_V, PasteSteps},
        {"mnuDelete", QT_TR_NOOP("Delete"), Qt::Key_Delete, DeleteSteps},
        {"mnuInsertStep", QT_TR_NOOP("Insert Step"), Qt::Key_Insert, InsertStep},
    };
    for (const auto& [name, caption, key, edit] : steps)
        connect(addEdit(new QAction(tr(caption), mnuEdit), name, {key}), &QAction::triggered, this, edit);

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
    // Each bar writes its setting through the song, which tells this window back; a value the
    // song already holds is no change.
    for (QScrollBar* bar : {hscChannel, hscNPB, hscTempo, hscTracks})
        connect(bar, &QScrollBar::sliderPressed, this, [this] { ++gesture_; });
    connect(hscChannel, &QScrollBar::valueChanged, this, [this](int value) {
        lblChannel->setText(tr("Output Channel: %1").arg(value));
        SetTrackChannel(g_lCurTrack, value, Gesture(hscChannel));
    });
    connect(hscNPB, &QScrollBar::valueChanged, this, [this](int value) {
        lblNPB->setText(tr("Notes Per Beat: %1").arg(value));
        SetNotesPerBeat(value, Gesture(hscNPB));
    });
    connect(hscTempo, &QScrollBar::valueChanged, this, [this](int value) {
        lblTempo->setText(tr("Tempo: %1 BPM").arg(value));
        SetTempo(value, Gesture(hscTempo));
    });
    connect(hscTracks, &QScrollBar::valueChanged, this, [this](int value) {
        lblNumTracks->setText(tr("Number of Tracks: %1").arg(value));
        SetTrackCount(value, Gesture(hscTracks));
    });

    connect(chkRecord, &QCheckBox::toggled, &core, &MusicMaker::SetRecord);
    connect(chkPlay, &QCheckBox::toggled, this, [&core](bool on) {
        // Loop plays the selected steps when several are selected, else the whole song; read
        // before Play moves the cursor, which collapses the selection.
        if (on && !core.PlayChecked()) {
            const StepRange selected = SelectedSteps();
            if (selected.count > 1)
                core.SetLoopRange(selected.first, selected.first + selected.count);
            else
                core.SetLoopRange(0, MusicMaker::kSongEnd);
        }
        core.SetPlay(on);
    });
    connect(&core, &MusicMaker::recordChanged, chkRecord, &QCheckBox::setChecked);
    connect(&core, &MusicMaker::playChanged, chkPlay, &QCheckBox::setChecked);
    connect(chkLoop, &QCheckBox::toggled, &core, &MusicMaker::SetLoop);
    connect(&core, &MusicMaker::loopChanged, chkLoop, &QCheckBox::setChecked);
    chkRecord->setChecked(core.RecordChecked());
    chkPlay->setChecked(core.PlayChecked());
    chkLoop->setChecked(core.LoopChecked());

    AddSongView(this);
    ShowSong();
}

frmMusicMaker::~frmMusicMaker() { RemoveSongView(this); }

void frmMusicMaker::ShowSong() {
    ShowSettings();
    RefreshCaptions();
    for (StepList* list : lstTrack) list->RowsChanged(0, -1);
}

void frmMusicMaker::ShowSettings() {
    // The bars only show the song here: a value outside a bar's range must not be clamped back
    // into the song, so their change handling is held off and the labels are written directly.
    const int channel = TheMusicMaker().CurrentTrackChannel();
    {
        const QSignalBlocker tracks(hscTracks), tempo(hscTempo), notesPerBeat(hscNPB), channels(hscChannel);
        hscTracks->setValue(g_lNumTracks);
        hscTempo->setValue(g_lTempo);
        hscNPB->setValue(g_lNotesPerBeat);
        hscChannel->setValue(channel);
    }
    lblNumTracks->setText(tr("Number of Tracks: %1").arg(g_lNumTracks));
    lblTempo->setText(tr("Tempo: %1 BPM").arg(g_lTempo));
    lblNPB->setText(tr("Notes Per Beat: %1").arg(g_lNotesPerBeat));
    lblChannel->setText(tr("Output Channel: %1").arg(channel));
}

void frmMusicMaker::RefreshCaptions() {
    for (int i = 0; i < static_cast<int>(cmdTrack.size()); ++i) {
        const int n = m_lTrackOffset + i + 1;
        if (n > g_lNumTracks) {
            cmdTrack[i]->setText(QStringLiteral("-"));
            lstTrack[i]->SetRows(-1, 0);
            continue;
        }
        cmdTrack[i]->setText(tr("Track %1").arg(n));
        lstTrack[i]->SetRows(n - 1, g_lNumSteps);
    }
    SelectCursorRows();
}

void frmMusicMaker::SelectCursorRows() {
    // Every list selects the cursor row; the current track's list also the rest of the selection.
    const int anchor = SelectionAnchor();
    for (StepList* list : lstTrack) list->SelectRow(g_lCurStep, list->Track() == g_lCurTrack ? anchor : g_lCurStep);
    const QSignalBlocker blocker(hscChannel);
    hscChannel->setValue(TheMusicMaker().CurrentTrackChannel());
    lblChannel->setText(tr("Output Channel: %1").arg(hscChannel->value()));
}

void frmMusicMaker::SongChanged(const SongChange& change) {
    if (change.parts == SongChange::Whole) return ShowSong();
    if (change.parts & SongChange::Settings) ShowSettings();
    if (change.parts & (SongChange::Tracks | SongChange::Length)) RefreshCaptions();
    if (change.parts & SongChange::Steps) {
        for (StepList* list : lstTrack)
            if (list->Track() == change.track) list->RowsChanged(change.first, change.count);
    }
    if (change.parts & SongChange::Cursor) SelectCursorRows();
}

void frmMusicMaker::TrackClicked(int index) {
    // A button captioned "-" names no track: MusicMaker ignores it.
    TheMusicMaker().PlayTrackAlone(m_lTrackOffset + index);
}

void frmMusicMaker::ListReleased(int index, bool extend) {
    const int t = m_lTrackOffset + index;
    const int row = lstTrack[index]->SelectedRow();
    // A release over an empty list has no row to move the cursor to.
    if (t >= g_lNumTracks || row < 0) return;
    // A selection stays within one track: Shift in another track's list starts a new one there.
    if (extend && t == g_lCurTrack) return ExtendSelection(row);
    SetCursor(t, row);
    MusicMaker& core = TheMusicMaker();
    if (core.RecordChecked()) {
        if (PianoPort* piano = GetPianoPort())
            piano->UpdateInstrument(g_bytChannelPatch[static_cast<std::size_t>(core.CurrentTrackChannel() & 15)]);
    }
}

void frmMusicMaker::NewSongAsked() {
    if (g_lNumSteps > 0 &&
        !UserDialogs().Ask(tr("New Song"), tr("Start a new song? The current song will be lost.")))
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
