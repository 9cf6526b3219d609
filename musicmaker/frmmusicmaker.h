#pragma once
// The Music Maker window: shows the song five tracks at a time, edits the song settings, the
// current track's channel and the steps of the track lists (Edit menu, with undo and redo), and
// holds the Record, Play and Loop boxes. The song, recording and playback
// live in the core (songops.h, musicmaker.h); this window shows them and forwards events.

#include "musicmaker/songops.h"

#include <QMainWindow>
#include <QScrollBar>

#include <array>

class QCheckBox;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;

namespace kivra {

class StepList;

class frmMusicMaker : public QMainWindow, public SongView {
    Q_OBJECT
public:
    explicit frmMusicMaker(QWidget* parent = nullptr);
    ~frmMusicMaker() override;

    // Rebuilds the track buttons and lists from the song and selects the cursor row.
    void RefreshCaptions();
    // Shows what changed: the rows of one track, the settings, the cursor, or everything.
    void SongChanged(const SongChange& change) override;
    // Refreshes every control (tempo, notes per beat, tracks, channel, lists) from the song, as
    // after an import.
    void ShowSong();
    // The File menu, for the import and export items.
    QMenu* FileMenu() const { return mnuFile; }
    QMenu* EditMenu() const { return mnuEdit; }
    // A note about the song shown below the tracks without interrupting (how an imported file's
    // timing fitted the grid); empty clears it.
    void ShowStatus(const QString& text);

    int TrackOffset() const { return m_lTrackOffset; }

signals:
    // New replaced the song with an empty one.
    void songStarted();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void NewSongAsked();
    void TrackClicked(int index);
    void ListReleased(int index, bool extend);
    void ShowSettings();
    void SelectCursorRows();
    // The drag a bar's value change belongs to (0: none), so that one drag is one change.
    int Gesture(const QScrollBar* bar) const { return bar->isSliderDown() ? gesture_ : 0; }

    int m_lTrackOffset = 0;  // the track shown in the first list; kept while the window lives
    int gesture_ = 0;       // counts the scroll-bar drags

    QPushButton* cmdPrevTrack;
    std::array<QPushButton*, 5> cmdTrack;
    QPushButton* cmdNextTrack;
    std::array<StepList*, 5> lstTrack;
    QGroupBox* fraSongOptions;
    QLabel* lblNumTracks;
    QScrollBar* hscTracks;
    QLabel* lblTempo;
    QScrollBar* hscTempo;
    QLabel* lblNPB;
    QScrollBar* hscNPB;
    QGroupBox* fraTrackOptions;
    QLabel* lblChannel;
    QScrollBar* hscChannel;
    QCheckBox* chkRecord;
    QCheckBox* chkPlay;
    QCheckBox* chkLoop;
    QMenu* mnuFile;
    QMenu* mnuEdit;
    QLabel* lblStatus = nullptr;  // made with the status bar by the first note, so a plain window keeps its size
};

}  // namespace kivra
