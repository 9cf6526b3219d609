#include "midi/frmsound.h"

#include "midi/devices.h"
#include "midi/message.h"
#include "midi/midiio.h"
#include "widgets/dialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSlider>
#include <QSpinBox>

namespace kivra {
namespace {


QSlider* MakePercentSlider(QWidget* parent, const char* name) {
    auto* s = new QSlider(Qt::Horizontal, parent);
    s->setObjectName(QString::fromLatin1(name));
    s->setRange(0, 100);
    s->setPageStep(10);
    return s;
}

template <typename W> W* Named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

SynthControls* Synth() { return OutBackend() ? OutBackend()->Controls() : nullptr; }

}  // namespace

frmSound::frmSound(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmSound"));
    setWindowTitle(tr("Kivra - Sound"));

    sldVolume = MakePercentSlider(this, "sldVolume");
    chkReverb = Named(new QCheckBox(tr("Reverb"), this), "chkReverb");
    sldReverb = MakePercentSlider(this, "sldReverb");
    chkChorus = Named(new QCheckBox(tr("Chorus"), this), "chkChorus");
    txtSoundFont = Named(new QLineEdit(this), "txtSoundFont");
    txtSoundFont->setReadOnly(true);
    cmdSoundFont = Named(new QPushButton(tr("Choose..."), this), "cmdSoundFont");
    spnVelocity = Named(new QSpinBox(this), "spnVelocity");
    spnVelocity->setRange(1, 127);
    chkTouchVelocity = Named(new QCheckBox(tr("Touch velocity"), this), "chkTouchVelocity");
    cmdPanic = Named(new QPushButton(tr("Panic"), this), "cmdPanic");
    cmdPanic->setToolTip(tr("Silences every note on every channel of the output"));
    lblAudio = Named(new QLabel(this), "lblAudio");

    auto* reverbRow = new QHBoxLayout;
    reverbRow->addWidget(chkReverb);
    reverbRow->addWidget(sldReverb, 1);
    auto* soundFontRow = new QHBoxLayout;
    soundFontRow->addWidget(txtSoundFont, 1);
    soundFontRow->addWidget(cmdSoundFont);
    auto* form = new QFormLayout(this);
    form->addRow(tr("Volume"), sldVolume);
    form->addRow(tr("Effects"), reverbRow);
    form->addRow(QString(), chkChorus);
    form->addRow(tr("SoundFont"), soundFontRow);
    form->addRow(tr("Velocity"), spnVelocity);
    form->addRow(QString(), chkTouchVelocity);
    form->addRow(tr("Audio"), lblAudio);
    form->addRow(QString(), cmdPanic);
    setMinimumWidth(420);
    // Enter and Escape close the window: every change already took effect. Without a default,
    // the dialog would make the first button, "Choose...", the one Enter presses.
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    cmdClose = buttons->button(QDialogButtonBox::Close);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setDefault(true);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Controls without a caption of their own are named for screen readers.
    sldVolume->setAccessibleName(tr("Volume"));
    sldReverb->setAccessibleName(tr("Reverb amount"));
    txtSoundFont->setAccessibleName(tr("SoundFont"));
    spnVelocity->setAccessibleName(tr("Velocity"));

    for (QSlider* s : {sldVolume, sldReverb}) connect(s, &QSlider::valueChanged, this, &frmSound::OptionsChanged);
    for (QCheckBox* c : {chkReverb, chkChorus}) connect(c, &QCheckBox::toggled, this, &frmSound::OptionsChanged);
    connect(spnVelocity, &QSpinBox::valueChanged, this, &frmSound::PlayingChanged);
    connect(chkTouchVelocity, &QCheckBox::toggled, this, &frmSound::PlayingChanged);
    connect(cmdSoundFont, &QPushButton::clicked, this, &frmSound::cmdSoundFont_Click);
    connect(cmdPanic, &QPushButton::clicked, this, [] { Panic(); });
}

void frmSound::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) Form_Load();
    QDialog::showEvent(event);
}

void frmSound::Form_Load() {
    loading_ = true;
    options_ = LoadSoundOptions();
    sldVolume->setValue(options_.volume);
    chkReverb->setChecked(options_.reverb);
    sldReverb->setValue(options_.reverbAmount);
    chkChorus->setChecked(options_.chorus);
    txtSoundFont->setText(QString::fromStdString(options_.soundFont));
    txtSoundFont->setPlaceholderText(tr("The system's General MIDI SoundFont"));
    spnVelocity->setValue(PlayVelocity());
    chkTouchVelocity->setChecked(TouchVelocity());
    loading_ = false;

    SynthControls* synth = Synth();
    const QString why = synth ? QString()
                              : tr("The output device makes its own sound: only the built-in "
                                   "synthesizer has these effects and SoundFonts.");
    for (QWidget* w : std::initializer_list<QWidget*>{chkReverb, sldReverb, chkChorus, txtSoundFont, cmdSoundFont}) {
        w->setEnabled(synth != nullptr);
        w->setToolTip(why);
    }
    const std::string driver = synth ? synth->AudioDriver() : std::string();
    lblAudio->setText(!synth ? tr("External device")
                             : tr("Latency %1 ms, driver: %2")
                                   .arg(QString::number(synth->LatencyMs()),
                                        driver.empty() ? tr("(not started)")
                                                       : QString::fromStdString(driver)));
}

void frmSound::OptionsChanged() {
    if (loading_) return;
    const int volume = sldVolume->value();
    const bool volumeMoved = volume != options_.volume;
    options_.volume = volume;
    options_.reverb = chkReverb->isChecked();
    options_.reverbAmount = sldReverb->value();
    options_.chorus = chkChorus->isChecked();
    SaveSoundOptions(options_);
    if (SynthControls* synth = Synth()) synth->ApplySound(options_);
    else if (volumeMoved)
        SendMIDIMessage(ExternalVolumeMessage(volume));
}

void frmSound::cmdSoundFont_Click() {
    SynthControls* synth = Synth();
    if (!synth) return;
    const QString title = tr("Sound");
    const auto path = UserDialogs().OpenFileName(title, tr("SoundFonts (*.sf2 *.sf3);;All files (*)"));
    if (!path) return;
    const std::string error = synth->ChangeSoundFont(path->toStdString());
    if (!error.empty()) {
        UserDialogs().Message(title, tr("%1; the SoundFont in use stays.").arg(QString::fromStdString(error)),
                              MessageIcon::Warning);
        return;
    }
    options_.soundFont = path->toStdString();
    txtSoundFont->setText(*path);
    SaveSoundOptions(options_);
}

void frmSound::PlayingChanged() {
    if (loading_) return;
    SetPlayVelocity(spnVelocity->value());
    SetTouchVelocity(chkTouchVelocity->isChecked());
    SavePlayingSettings();
}

}  // namespace kivra
