#pragma once
// The main window "Kivra": 128 piano keys in three rows, the instrument list, Drum Mode, the base
// octave and the buttons that open the other windows. It is the PianoPort of the note routing:
// every note any source plays lights its key here. Closing it ends the program (see closing()).
// Called on the UI thread only.

#include "midi/midiio.h"

#include <QIcon>
#include <QMainWindow>

#include <array>
#include <utility>
#include <vector>

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QScrollBar;
class QToolButton;

namespace kivra {

class PianoKey;

// Appends the instrument catalogue to `list` (it does not clear it first): text, patch in
// Qt::UserRole (none for headings), group picture and indentation in kIndentRole.
void LoadInstruments(QComboBox& list);
inline constexpr int kIndentRole = Qt::UserRole + 1;

class frmPiano : public QMainWindow, public PianoPort {
    Q_OBJECT
public:
    explicit frmPiano(QWidget* parent = nullptr);
    ~frmPiano() override;

    // Controls, named as the rest of the program knows them.
    PianoKey* cmdNote(int note) const { return keys_[static_cast<std::size_t>(note)]; }
    QComboBox* cmbInstrument() const { return cmbInstrument_; }
    QToolButton* chkDrumMode() const { return chkDrumMode_; }
    QScrollBar* hscOctave() const { return hscOctave_; }
    QLabel* lblOctave() const { return lblOctave_; }
    QLabel* lblInstrument() const { return lblInstrument_; }
    QToolButton* cmdKeyConfig() const { return cmdKeyConfig_; }
    QToolButton* cmdMIDI() const { return cmdMIDI_; }
    QToolButton* cmdLink() const { return cmdLink_; }
    QToolButton* cmdTracker() const { return cmdTracker_; }
    QFrame* picPiano() const { return picPiano_; }
    QGroupBox* fraOctave() const { return fraOctave_; }

    // PianoPort
    void ShowKey(int note, Rgb colour, bool pressed) override;
    void SelectPatchRow(int patch) override;
    bool DrumModeChecked() const override;
    int BaseOctave() const override;
    void UpdateInstrument(int patch) override;
    void SetRecordingLock(bool recording) override;
    void UpdateCaptions() override;

signals:
    void keyConfigRequested();
    void devicesRequested();
    void linkRequested();
    void musicMakerRequested();
    void soundRequested();
    // The window is closing: the program shuts down.
    void closing();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void OnKeyDown(int note, Qt::MouseButton button, int y);
    void OnKeyMove(int note, Qt::MouseButtons buttons, int y);
    void OnKeyUp(int note, Qt::MouseButton button, int y);
    void OnOctaveChange(int value);
    void OnDrumModeClick();
    void OnInstrumentChosen(int row);
    void ShowAbout();
    static int RecordingChannelOr(int otherwise);
    // The placed controls grow with the client area; their twips layout is its smallest size.
    void RememberLayout();
    void ScaleLayout();

    std::array<PianoKey*, 128> keys_{};
    QWidget* client_ = nullptr;
    QLabel* lblInstrument_ = nullptr;
    QComboBox* cmbInstrument_ = nullptr;
    QToolButton* cmdKeyConfig_ = nullptr;
    QToolButton* cmdMIDI_ = nullptr;
    QToolButton* chkDrumMode_ = nullptr;
    QToolButton* cmdLink_ = nullptr;
    QToolButton* cmdTracker_ = nullptr;
    QFrame* picPiano_ = nullptr;
    QGroupBox* fraOctave_ = nullptr;
    QLabel* lblOctave_ = nullptr;
    QScrollBar* hscOctave_ = nullptr;
    std::vector<std::pair<QWidget*, QRect>> layout_;  // each placed control at the default size, pixels
    QSize layoutSize_;                                 // the client area's default and minimum size
    int m_lPressY = 0;  // pixels within the key of the last press: zero point of the bend
};

// A 32x32 picture from the data folder (an SVG); a null icon when the file is missing or unreadable.
QIcon LoadPicture(const QString& relative);

}  // namespace kivra
