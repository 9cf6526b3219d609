#include "app/frmpiano.h"

#include "app/datadir.h"
#include "app/instruments.h"
#include "app/keylayout.h"
#include "app/pianokey.h"
#include "musicmaker/songops.h"
#include "widgets/dialogs.h"
#include "widgets/twips.h"

#include "keyboard/keymap.h"
#include "midi/devices.h"
#include "midi/frmdevices.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QSvgRenderer>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace kivra {
namespace {

constexpr int kPictureSize = 32;  // pixels, buttons and instrument groups alike
constexpr int kIndentPixels = 16;  // per indentation level in the instrument list

// The velocity of a mouse press y pixels below the top of a key `height` pixels tall. With touch
// velocity on it grows linearly from 40% of the chosen velocity at the back (top) edge to all of
// it at the front (bottom) edge, as a real key sounds louder struck near its front.
int MouseVelocity(int y, int height) {
    if (!TouchVelocity() || height < 2) return PlayVelocity();
    const double front = std::clamp(y, 0, height - 1) / static_cast<double>(height - 1);
    return std::clamp(static_cast<int>(std::lround(PlayVelocity() * (0.4 + 0.6 * front))), 1, 127);
}

// A held key bends the channel its note sounds on, whatever the play channel is by now.
int MouseChannel(int note) {
    const int held = HeldChannel(NoteSource::Mouse, note);
    return held >= 0 ? held : PlayChannel();
}

QRect TwipsRect(int left, int top, int width, int height) {
    return {TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width), TwipsToPixels(height)};
}

// Instrument rows are indented under their heading in the open list.
class IndentDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem shifted(option);
        const int indent = index.data(kIndentRole).toInt() * kIndentPixels;
        shifted.rect.adjust(indent, 0, 0, 0);
        if (indent > 0) painter->fillRect(option.rect.adjusted(0, 0, indent - option.rect.width(), 0),
                                          option.palette.base());
        QStyledItemDelegate::paint(painter, shifted, index);
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.rwidth() += index.data(kIndentRole).toInt() * kIndentPixels;
        return s;
    }
};

QToolButton* MakePictureButton(QWidget* parent, const QString& caption, const char* picture, QRect geometry) {
    auto* b = new QToolButton(parent);
    b->setText(caption);
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setIconSize(QSize(kPictureSize, kPictureSize));
    b->setIcon(LoadPicture(QString::fromLatin1(picture)));
    b->setFocusPolicy(Qt::StrongFocus);
    b->setGeometry(geometry);
    return b;
}

}  // namespace

QIcon LoadPicture(const QString& relative) {
    const QString path = DataPath(relative);
    if (!QFile::exists(path)) return {};
    QSvgRenderer svg(path);
    if (!svg.isValid()) return {};
    // Qt's SVG icon engine draws the picture afresh for every size and scale, so it stays sharp
    // in an enlarged window and at fractional scales; the fixed pixmaps below are for its absence.
    if (QIcon drawn(path); !drawn.pixmap(kPictureSize).isNull()) return drawn;
    QIcon icon;
    for (int scale : {1, 2}) {  // sharp on high-density screens too
        QPixmap pixmap(kPictureSize * scale, kPictureSize * scale);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        svg.render(&p);
        p.end();
        pixmap.setDevicePixelRatio(scale);
        icon.addPixmap(pixmap);
    }
    return icon;
}

void LoadInstruments(QComboBox& list) {
    std::array<QIcon, kGroupPictureCount + 1> pictures;  // index 0 stays null: no picture
    for (int i = 1; i <= kGroupPictureCount; ++i)
        pictures[static_cast<std::size_t>(i)] = LoadPicture(QString::fromLatin1(GroupPictureFile(i)));
    for (const InstrumentRow& row : InstrumentCatalogue()) {
        list.addItem(InstrumentText(row));
        const int r = list.count() - 1;
        if (row.IsHeading()) continue;
        list.setItemData(r, row.patch, Qt::UserRole);
        list.setItemIcon(r, pictures[static_cast<std::size_t>(row.picture)]);
        list.setItemData(r, row.Indentation(), kIndentRole);
    }
}

frmPiano::frmPiano(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Kivra"));
    BuildControls();
    SetPianoPort(this);
    // While no output is open the caption says so and the piano area's tooltip says why; while
    // the SoundFont loads, they say that instead. A failure that comes late is shown here.
    const auto showOutputProblem = [this](const QString& problem, bool late) {
        const bool loading = problem.isEmpty() && OutputLoading();
        setWindowTitle(!problem.isEmpty() ? tr("Kivra - No sound output")
                       : loading          ? tr("Kivra - Loading sounds")
                                          : QStringLiteral("Kivra"));
        picPiano_->setToolTip(loading ? tr("The SoundFont is loading; keys held now sound once it has.")
                                      : problem);
        if (late) ReportOutputProblem(problem);
    };
    showOutputProblem(OutputProblem(), false);
    SetOutputProblemListener(showOutputProblem);

    // Load step. The octave starts at 0, so setting 4 runs the change handler: label, 128
    // note-offs on the piano channel and the captions.
    hscOctave_->setValue(4);
    LoadInstruments(*cmbInstrument_);
    cmbInstrument_->setCurrentIndex(1);  // "Acoustic Grand Piano"; nothing is sent
    picPiano_->setFocus();
}

frmPiano::~frmPiano() {
    SetOutputProblemListener(nullptr);
    if (GetPianoPort() == this) SetPianoPort(nullptr);
}

void frmPiano::BuildControls() {
    client_ = new QWidget(this);
    client_->setMinimumSize(TwipsToPixels(10575), TwipsToPixels(4215));
    client_->resize(client_->minimumSize());
    setCentralWidget(client_);

    lblInstrument_ = new QLabel(tr("Instrument"), client_);
    lblInstrument_->setGeometry(TwipsRect(120, 120, 3735, 255));

    cmbInstrument_ = new QComboBox(client_);
    cmbInstrument_->setIconSize(QSize(kPictureSize, kPictureSize));
    cmbInstrument_->setItemDelegate(new IndentDelegate(cmbInstrument_));
    cmbInstrument_->setMaxVisibleItems(16);
    cmbInstrument_->move(TwipsToPixels(120), TwipsToPixels(360));
    cmbInstrument_->resize(TwipsToPixels(3735), cmbInstrument_->sizeHint().height());
    lblInstrument_->setBuddy(cmbInstrument_);
    // A screen reader would otherwise call the list by the instrument it shows.
    cmbInstrument_->setAccessibleName(lblInstrument_->text());

    cmdKeyConfig_ = MakePictureButton(client_, tr("Key Config"), "icons/key-config.svg",
                                      TwipsRect(3960, 120, 1215, 855));
    cmdMIDI_ = MakePictureButton(client_, tr("MIDI Devices"), "icons/midi-devices.svg",
                                 TwipsRect(5280, 120, 1215, 855));
    chkDrumMode_ = MakePictureButton(client_, tr("Drum Mode"), "icons/drum-mode.svg",
                                     TwipsRect(6600, 120, 1215, 855));
    chkDrumMode_->setCheckable(true);
    cmdLink_ = MakePictureButton(client_, QStringLiteral("ZuduvIvev"), "icons/link.svg",
                                 TwipsRect(7920, 120, 1215, 855));
    cmdTracker_ = MakePictureButton(client_, tr("Music Maker"), "icons/music-maker.svg",
                                    TwipsRect(9240, 120, 1215, 855));

    picPiano_ = new QFrame(client_);
    picPiano_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    picPiano_->setGeometry(TwipsRect(120, 1080, 10335, 3015));
    picPiano_->setFocusPolicy(Qt::StrongFocus);
    picPiano_->setAccessibleName(tr("Piano"));

    fraOctave_ = new QGroupBox(tr("Base Octave"), picPiano_);
    fraOctave_->setGeometry(TwipsRect(7080, 120, 3135, 855));
    lblOctave_ = new QLabel(fraOctave_);
    lblOctave_->setGeometry(TwipsRect(120, 240, 1215, 255));
    hscOctave_ = new QScrollBar(Qt::Horizontal, fraOctave_);
    hscOctave_->setGeometry(TwipsRect(120, 480, 2895, 255));
    hscOctave_->setRange(-1, 9);
    hscOctave_->setSingleStep(1);
    hscOctave_->setPageStep(1);
    hscOctave_->setValue(0);
    hscOctave_->setInvertedControls(false);  // the Left arrow lowers the octave
    hscOctave_->setFocusPolicy(Qt::StrongFocus);
    hscOctave_->setAccessibleName(fraOctave_->title());

    // White keys first, so that the black keys lie over the white keys they overlap.
    for (bool black : {false, true}) {
        for (int n = 0; n < 128; ++n) {
            if (IsBlackKeyNote(n) != black) continue;
            auto* key = new PianoKey(n, picPiano_);
            const KeyRect r = KeyRectPixels(n);
            key->setGeometry(r.left, r.top, r.width, r.height);
            keys_[static_cast<std::size_t>(n)] = key;
            connect(key, &PianoKey::mouseDown, this, &frmPiano::OnKeyDown);
            connect(key, &PianoKey::mouseMoved, this, &frmPiano::OnKeyMove);
            connect(key, &PianoKey::mouseUp, this, &frmPiano::OnKeyUp);
        }
    }

    // Tab order: the controls above the piano, then the keys in note order.
    QWidget* order[] = {cmbInstrument_, cmdKeyConfig_, cmdMIDI_, chkDrumMode_, cmdLink_,
                        cmdTracker_,    picPiano_,     hscOctave_};
    QWidget* previous = nullptr;
    for (QWidget* w : order) {
        if (previous) setTabOrder(previous, w);
        previous = w;
    }
    for (PianoKey* key : keys_) {
        setTabOrder(previous, key);
        previous = key;
    }

    RememberLayout();
    client_->installEventFilter(this);

    connect(hscOctave_, &QScrollBar::valueChanged, this, &frmPiano::OnOctaveChange);
    connect(chkDrumMode_, &QToolButton::clicked, this, &frmPiano::OnDrumModeClick);
    connect(cmbInstrument_, qOverload<int>(&QComboBox::activated), this, &frmPiano::OnInstrumentChosen);
    connect(cmdKeyConfig_, &QToolButton::clicked, this, &frmPiano::keyConfigRequested);
    connect(cmdMIDI_, &QToolButton::clicked, this, &frmPiano::devicesRequested);
    connect(cmdLink_, &QToolButton::clicked, this, &frmPiano::linkRequested);
    connect(cmdTracker_, &QToolButton::clicked, this, &frmPiano::musicMakerRequested);

    // In the menu bar, so that the placed controls stay where they are.
    QMenu* options = menuBar()->addMenu(tr("&Options"));
    QAction* sound = options->addAction(tr("&Sound..."));
    sound->setObjectName(QStringLiteral("mnuSound"));
    connect(sound, &QAction::triggered, this, &frmPiano::soundRequested);

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    QAction* about = help->addAction(tr("&About..."));
    about->setObjectName(QStringLiteral("mnuAbout"));
    connect(about, &QAction::triggered, this, &frmPiano::ShowAbout);
}

void frmPiano::RememberLayout() {
    layoutSize_ = client_->minimumSize();
    for (QWidget* parent : {client_, static_cast<QWidget*>(picPiano_), static_cast<QWidget*>(fraOctave_)})
        for (QWidget* w : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) layout_.emplace_back(w, w->geometry());
}

void frmPiano::ScaleLayout() {
    const double sx = client_->width() / static_cast<double>(layoutSize_.width());
    const double sy = client_->height() / static_cast<double>(layoutSize_.height());
    // The first and last pixel of each control are scaled, not its size, so neighbouring keys keep
    // their one-pixel overlap: the bevel between them stays, and no gap opens.
    const auto edge = [](int pixels, double scale) { return static_cast<int>(std::lround(pixels * scale)); };
    for (const auto& [w, r] : layout_) {
        const int left = edge(r.left(), sx), top = edge(r.top(), sy);
        w->setGeometry(left, top, edge(r.right(), sx) - left + 1, edge(r.bottom(), sy) - top + 1);
    }
    const int picture = edge(kPictureSize, std::min(sx, sy));
    for (QToolButton* b : {cmdKeyConfig_, cmdMIDI_, chkDrumMode_, cmdLink_, cmdTracker_}) b->setIconSize({picture, picture});
}

bool frmPiano::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client_ && event->type() == QEvent::Resize) ScaleLayout();
    return QMainWindow::eventFilter(watched, event);
}

// ---- Playing with the mouse -----------------------------------------------------------------

void frmPiano::OnKeyDown(int note, Qt::MouseButton button, int y) {
    m_lPressY = y;  // whatever the button: the right button re-centres the bend
    if (button != Qt::LeftButton) return;
    const int velocity = MouseVelocity(y, keys_[static_cast<std::size_t>(note)]->height());
    PressNote(NoteSource::Mouse, note, note, velocity, PlayChannel());
}

void frmPiano::OnKeyMove(int note, Qt::MouseButtons buttons, int y) {
    // Only while the left button alone is held; every move sends one bend, moved or not.
    if (buttons == Qt::LeftButton) SendPitchBend((y - m_lPressY) * 4 + 8192, MouseChannel(note));
}

void frmPiano::OnKeyUp(int note, Qt::MouseButton button, int) {
    if (button != Qt::LeftButton) return;
    const int channel = MouseChannel(note);
    ReleaseKey(NoteSource::Mouse, note);
    SendPitchBend(8192, channel);
}

// ---- Octave, Drum Mode ----------------------------------------------------------------------

void frmPiano::OnOctaveChange(int value) {
    lblOctave_->setText(tr("Octave: %1").arg(value));
    StopSoundingNotes();
    UpdateCaptions();
}

void frmPiano::OnDrumModeClick() { StopSoundingNotes(); }

void frmPiano::UpdateCaptions() {
    std::array<QString, 128> captions;
    const int base = (hscOctave_->value() + 1) * 12;
    for (int vk = 0; vk < 256; ++vk) {
        const auto& entry = g_KeyMap[static_cast<std::size_t>(vk)];
        if (entry.Action != kActionPlayRelative) continue;
        for (int i = 0; i < static_cast<int>(entry.NoteCount) && i < static_cast<int>(entry.Notes.size()); ++i) {
            const int note = base + static_cast<int>(entry.Notes[static_cast<std::size_t>(i)]);
            if (note < 0 || note >= 128) continue;
            const QString breaks = IsBlackKeyNote(note) ? QStringLiteral("\r\n") : QStringLiteral("\r\n\r\n");
            // Later (higher) virtual-key codes replace earlier ones on the same note.
            captions[static_cast<std::size_t>(note)] = breaks + GetKeyName(vk);
        }
    }
    for (int n = 0; n < 128; ++n) keys_[static_cast<std::size_t>(n)]->setText(captions[static_cast<std::size_t>(n)]);
}

// ---- Instrument list ------------------------------------------------------------------------

int frmPiano::RecordingChannelOr(int otherwise) {
    RecorderPort* recorder = GetRecorderPort();
    return recorder && recorder->RecordChecked() ? recorder->CurrentTrackChannel() : otherwise;
}

void frmPiano::OnInstrumentChosen(int row) {
    const QVariant patchData = cmbInstrument_->itemData(row, Qt::UserRole);
    if (!patchData.isValid()) return;  // a heading: nothing to send, it stays selected
    const int patch = patchData.toInt();
    RecorderPort* recorder = GetRecorderPort();
    if (recorder && recorder->RecordChecked()) {
        const int channel = recorder->CurrentTrackChannel();
        SetPatch(patch, channel);
        // The song remembers the channel's instrument even when nothing could be sent.
        SetChannelPatch(channel, patch);
    } else {
        SetPatch(patch, g_lChannel);
    }
}

void frmPiano::UpdateInstrument(int patch) {
    for (int row = 0; row < cmbInstrument_->count(); ++row) {
        const QVariant data = cmbInstrument_->itemData(row, Qt::UserRole);
        if (data.isValid() && data.toInt() == patch) {
            cmbInstrument_->setCurrentIndex(row);
            break;
        }
    }
    // A patch no row carries leaves the selection alone and is still sent.
    SetPatch(patch, RecordingChannelOr(g_lChannel));
    // While recording the track's instrument is the song's, as a pick from the list makes it (a
    // program change from a MIDI keyboard); restoring the song's own patch changes nothing.
    if (RecorderPort* recorder = GetRecorderPort(); recorder && recorder->RecordChecked() && patch >= 0 && patch < 128)
        SetChannelPatch(recorder->CurrentTrackChannel(), patch);
}

void frmPiano::SelectPatchRow(int patch) {
    for (int row = 0; row < cmbInstrument_->count(); ++row) {
        const QVariant data = cmbInstrument_->itemData(row, Qt::UserRole);
        if (data.isValid() && data.toInt() == patch) cmbInstrument_->setCurrentIndex(row);
    }
}

// ---- PianoPort ------------------------------------------------------------------------------

void frmPiano::ShowKey(int note, Rgb colour, bool pressed) {
    if (note < 0 || note > 127) return;
    keys_[static_cast<std::size_t>(note)]->SetLook(QColor(colour.r, colour.g, colour.b), pressed);
}

bool frmPiano::DrumModeChecked() const { return chkDrumMode_->isChecked(); }

int frmPiano::BaseOctave() const { return hscOctave_->value(); }

void frmPiano::SetRecordingLock(bool recording) {
    for (QWidget* w : {static_cast<QWidget*>(cmdKeyConfig_), static_cast<QWidget*>(cmdMIDI_),
                       static_cast<QWidget*>(chkDrumMode_), static_cast<QWidget*>(cmdLink_)})
        w->setEnabled(!recording);
}

// ---- Window ---------------------------------------------------------------------------------

void frmPiano::ShowAbout() {
    UserDialogs().Message(tr("About Kivra"), QStringLiteral("Kivra Beta"), MessageIcon::Information);
}

void frmPiano::closeEvent(QCloseEvent* event) {
    event->accept();
    emit closing();
}

}  // namespace kivra
