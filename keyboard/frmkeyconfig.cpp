#include "keyboard/frmkeyconfig.h"

#include "keyboard/keyhook.h"
#include "keyboard/keymap.h"
#include "midi/midiio.h"
#include "widgets/dialogs.h"
#include "widgets/twips.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>

namespace kivra {

// One note box: a check box drawn as a small piano key. It paints its own face, so a ticked box
// shows exactly red whatever the style.
class NoteBox : public QAbstractButton {
    Q_OBJECT
public:
    NoteBox(int note, QWidget* parent) : QAbstractButton(parent), note_(note) {
        setCheckable(true);
        setFocusPolicy(Qt::StrongFocus);
        setAccessibleName(QString::fromStdString(NoteName(note)));
        Recolour();
    }
    int Note() const { return note_; }
    QColor BackColour() const { return back_; }
    // Red when ticked, else the key's own colour.
    void Recolour() {
        const QColor c = isChecked() ? QColor(255, 0, 0) : (IsBlackKey(note_) ? QColor(0, 0, 0) : QColor(255, 255, 255));
        if (c != back_) {
            back_ = c;
            update();
        }
    }

signals:
    void leftReleased(int note);

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), back_);
        p.setPen(hasFocus() ? QColor(0, 0, 255) : QColor(64, 64, 64));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        QAbstractButton::mouseReleaseEvent(e);  // toggles first, so the rebuild sees the new state
        if (e->button() == Qt::LeftButton) emit leftReleased(note_);
    }

private:
    int note_;
    QColor back_;
};

namespace {

QRect Twips(int left, int top, int width, int height) {
    return QRect(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width), TwipsToPixels(height));
}

// Left edge of each pitch class within an octave of note boxes, in twips.
constexpr std::array<int, 12> kNoteBoxOffsets = {0, 165, 240, 405, 480, 720, 885, 960, 1125, 1200, 1365, 1440};

QRect NoteBoxTwips(int n) {
    const int first = n >= 96 ? 96 : n >= 48 ? 48 : 0;
    const int top = n >= 96 ? 240 : n >= 48 ? 1080 : 1920;
    const int left = 120 + 1680 * ((n - first) / 12) + kNoteBoxOffsets[static_cast<std::size_t>(n % 12)];
    return IsBlackKey(n) ? Twips(left, top, 135, 375) : Twips(left, top, 255, 735);
}

QString SaveTitle() { return frmKeyConfig::tr("Save Profile"); }
QString LoadTitle() { return frmKeyConfig::tr("Load Profile"); }

}  // namespace

frmKeyConfig::frmKeyConfig(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Kivra - Key Configuration"));
    setModal(true);
    setFixedSize(TwipsToPixels(7455), TwipsToPixels(5055));

    lblKey_ = new QLabel(tr("Key"), this);
    lblKey_->setGeometry(Twips(120, 120, 1215, 255));
    chkKey_ = new QPushButton(tr("(Press Key)"), this);
    chkKey_->setCheckable(true);
    chkKey_->setChecked(true);
    chkKey_->setAutoDefault(false);
    chkKey_->setGeometry(Twips(120, 360, 1215, 495));
    linSeparator_ = new QFrame(this);
    linSeparator_->setFrameShape(QFrame::HLine);
    linSeparator_->setGeometry(Twips(120, 960 - 15, 1200, 30));

    fraProfile_ = new QGroupBox(tr("Profile"), this);
    fraProfile_->setGeometry(Twips(1440, 120, 2775, 855));
    cmdSave_ = new QPushButton(tr("Save"), fraProfile_);
    cmdSave_->setGeometry(Twips(120, 240, 1215, 495));
    cmdLoad_ = new QPushButton(tr("Load"), fraProfile_);
    cmdLoad_->setGeometry(Twips(1440, 240, 1215, 495));
    // Enter belongs to the key capture, never to a default button.
    cmdSave_->setAutoDefault(false);
    cmdLoad_->setAutoDefault(false);

    fraAction_ = new QGroupBox(tr("Action"), this);
    fraAction_->setGeometry(Twips(120, 1080, 7215, 3855));
    actionGroup_ = new QButtonGroup(this);
    // Each option may grow to `end`, the next option's left edge less a gap or the frame's inner edge.
    // The rows below the options belong to the note boxes, so the pedal shares the short "None"'s row.
    const struct {
        const char* caption;
        int left, top, width, end;
    } options[] = {{QT_TR_NOOP("None"), 120, 240, 1215, 1440},
                   {QT_TR_NOOP("Play Note(s) Relative To Base Octave"), 120, 480, 3375, 3600},
                   {QT_TR_NOOP("Play Specific Note(s)"), 120, 720, 2535, 3600},
                   {QT_TR_NOOP("Insert Space In Music Maker"), 3600, 240, 2535, 7215},
                   {QT_TR_NOOP("Insert Break in Music Maker"), 3600, 480, 2535, 7215},
                   {QT_TR_NOOP("Delete Note in Music Maker"), 3600, 720, 2535, 7215},
                   {QT_TR_NOOP("Sustain Pedal"), 1440, 240, 2040, 3600}};
    for (int i = 0; i < 7; ++i) {
        auto* opt = new QRadioButton(tr(options[i].caption), fraAction_);
        // Widened to the room the frame leaves, so captions in today's larger fonts are not cut.
        const int room = options[i].end - 120 - options[i].left;
        opt->setGeometry(Twips(options[i].left, options[i].top, std::max(options[i].width, room), 255));
        QFont small = opt->font();
        small.setPointSizeF(small.pointSizeF() * 0.9);
        opt->setFont(small);
        actionGroup_->addButton(opt, i);
        optAction_[static_cast<std::size_t>(i)] = opt;
        connect(opt, &QRadioButton::toggled, this, [this, i](bool on) {
            if (on) optAction_Click(i);
        });
    }
    optAction_[0]->setChecked(true);

    fraNotes_ = new QGroupBox(tr("Notes"), fraAction_);
    fraNotes_->setGeometry(Twips(120, 960, 6975, 2775));
    for (int n = 0; n < 128; ++n) {
        auto* box = new NoteBox(n, fraNotes_);
        box->setGeometry(NoteBoxTwips(n));
        chkNote_[static_cast<std::size_t>(n)] = box;
        connect(box, &QAbstractButton::toggled, this, [this, n](bool) { chkNote_Click(n); });
        connect(box, &NoteBox::leftReleased, this, [this](int) { chkNote_MouseUp(); });
    }
    // Black keys lie over the white keys.
    for (NoteBox* box : chkNote_)
        if (IsBlackKey(box->Note())) box->raise();
    // Tab order follows note order.
    for (int n = 1; n < 128; ++n)
        setTabOrder(chkNote_[static_cast<std::size_t>(n - 1)], chkNote_[static_cast<std::size_t>(n)]);

    connect(chkKey_, &QPushButton::toggled, this, [this](bool) { chkKey_Click(); });
    connect(cmdSave_, &QPushButton::clicked, this, [this] { cmdSave_Click(); });
    connect(cmdLoad_, &QPushButton::clicked, this, [this] { cmdLoad_Click(); });
    SetKeyConfigTarget(this);
}

// The hook holds this window through a QPointer, which forgets it as it goes.
frmKeyConfig::~frmKeyConfig() = default;

QAbstractButton* frmKeyConfig::chkNote(int note) const { return chkNote_[static_cast<std::size_t>(note)]; }

void frmKeyConfig::SetKey(int p_lKey) {
    if (!chkKey_->isChecked() || p_lKey < 0 || p_lKey > 255) return;
    m_lKey = p_lKey;
    ShowEntry();
    chkKey_->setChecked(false);
}

void frmKeyConfig::ShowEntry() {
    const KeyMapEntry& entry = g_KeyMap[static_cast<std::size_t>(m_lKey)];
    showing_ = true;
    if (entry.Action <= kActionSustainPedal) {
        optAction_[entry.Action]->setChecked(true);
    } else {
        // A code from a foreign profile has no option: show none selected and keep the code.
        actionGroup_->setExclusive(false);
        for (QRadioButton* opt : optAction_) opt->setChecked(false);
        actionGroup_->setExclusive(true);
    }
    showing_ = false;
    for (int n = 0; n < 128; ++n) {
        const bool ticked = std::find(entry.Notes.begin(), entry.Notes.end(), n) != entry.Notes.end();
        chkNote_[static_cast<std::size_t>(n)]->setChecked(ticked);
    }
}

void frmKeyConfig::chkKey_Click() {
    chkKey_->setText(chkKey_->isChecked() ? tr("(Press Key)") : GetKeyName(m_lKey));
}

void frmKeyConfig::chkNote_Click(int index) { chkNote_[static_cast<std::size_t>(index)]->Recolour(); }

void frmKeyConfig::chkNote_MouseUp() {
    KeyMapEntry& entry = g_KeyMap[static_cast<std::size_t>(m_lKey)];
    entry.Notes.clear();
    for (int n = 0; n < 128; ++n)
        if (chkNote_[static_cast<std::size_t>(n)]->isChecked()) entry.Notes.push_back(static_cast<std::uint8_t>(n));
    entry.NoteCount = static_cast<std::uint8_t>(entry.Notes.size());
}

void frmKeyConfig::optAction_Click(int index) {
    // Selecting the entry's own option writes the same code back; harmless, and skipped.
    if (showing_) return;
    g_KeyMap[static_cast<std::size_t>(m_lKey)].Action = static_cast<std::uint8_t>(index);
}

void frmKeyConfig::cmdSave_Click() {
    const auto name = UserDialogs().Input(SaveTitle(), tr("Enter a name for this profile:"), QString());
    if (!name || name->isEmpty()) return;
    if (SaveKeyMap(*name, g_KeyMap))
        UserDialogs().Message(SaveTitle(), tr("Profile Saved!"), MessageIcon::Information);
    else
        UserDialogs().Message(SaveTitle(), tr("An error occured while saving the profile!"), MessageIcon::Critical);
}

void frmKeyConfig::cmdLoad_Click() {
    const auto name = UserDialogs().Input(LoadTitle(), tr("Enter the name of the profile to load:"), QString(),
                                          SavedProfileNames());
    if (!name || name->isEmpty()) return;
    KeyMap loaded{};
    const ProfileLoad r = LoadKeyMap(*name, loaded);
    if (!r.Opened()) {
        UserDialogs().Message(LoadTitle(), tr("An error occured while loading the profile!\n\n") + r.reason,
                              MessageIcon::Critical);
        return;
    }
    if (r.status == ProfileLoad::StoppedEarly) {
        // Only the part before the damage was read: the user decides whether that part will do.
        const auto keys = std::ranges::count_if(loaded, [](const KeyMapEntry& e) { return e != KeyMapEntry{}; });
        const QString question = tr("The profile \"%1\" is damaged at byte %2. The part before it holds %3 %4.\n\n"
                                    "Replace the key map with it?")
                                     .arg(*name)
                                     .arg(r.offset)
                                     .arg(keys)
                                     .arg(keys == 1 ? tr("key") : tr("keys"));
        if (!UserDialogs().Ask(LoadTitle(), question)) return;
    }
    g_KeyMap = std::move(loaded);
    ShowEntry();
    if (PianoPort* piano = GetPianoPort()) piano->UpdateCaptions();
}

void frmKeyConfig::showEvent(QShowEvent* event) {
    // Each opening waits for a key again; the key last edited stays shown until one is pressed.
    chkKey_->setChecked(true);
    ShowEntry();
    QDialog::showEvent(event);
}

}  // namespace kivra

#include "frmkeyconfig.moc"
