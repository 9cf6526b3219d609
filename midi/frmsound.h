#pragma once
// The Sound window: the built-in synthesizer's volume, reverb, chorus and SoundFont, the velocity
// of mouse and computer-key notes, Panic, and the audio latency with the driver in use. Every
// change takes effect at once and is saved. For an external output device the volume is sent as
// a controller and the synthesizer's effects are disabled.

#include "midi/sound.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;
class QSlider;
class QSpinBox;

namespace kivra {

class frmSound : public QDialog {
    Q_OBJECT
public:
    explicit frmSound(QWidget* parent = nullptr);

protected:
    // Each opening reads the settings and the output afresh.
    void showEvent(QShowEvent* event) override;

private:
    void Form_Load();
    void OptionsChanged();
    void cmdSoundFont_Click();
    void PlayingChanged();

    SoundOptions options_;
    bool loading_ = false;  // Form_Load fills the controls: nothing is applied meanwhile
    QSlider* sldVolume;
    QCheckBox* chkReverb;
    QSlider* sldReverb;
    QCheckBox* chkChorus;
    QLineEdit* txtSoundFont;
    QPushButton* cmdSoundFont;
    QSpinBox* spnVelocity;
    QCheckBox* chkTouchVelocity;
    QPushButton* cmdPanic;
    QLabel* lblAudio;
    QPushButton* cmdClose;  // the default button: Enter and Escape both close
};

}  // namespace kivra
