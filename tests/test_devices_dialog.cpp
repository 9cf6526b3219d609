// The device dialog: what it lists and selects, what OK and Cancel save and reopen.
#include "app/frmpiano.h"
#include "midi/devices.h"
#include "midi/frmdevices.h"
#include "midi/midiinput.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

using namespace kivra;

namespace {

void Save(const QString& key, const QString& name) { SaveSetting(kSettingsSection, key, name); }
QString Saved(const auto& key) { return GetSetting(kSettingsSection, key, QStringLiteral("<absent>")); }

QStringList Texts(const QListWidget* list, bool selectedOnly = false) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        if (!selectedOnly || list->item(i)->isSelected()) out << list->item(i)->text();
    return out;
}
void ClickRow(QListWidget* list, int row) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
}

// The dialog as the user sees it, opened with the fake devices of the test.
struct OpenDialog {
    frmDevices dialog;
    QListWidget* lstOut = dialog.findChild<QListWidget*>(QStringLiteral("lstOut"));
    QListWidget* lstIn = dialog.findChild<QListWidget*>(QStringLiteral("lstIn"));
    QPushButton* cmdOK = dialog.findChild<QPushButton*>(QStringLiteral("cmdOK"));
    QPushButton* cmdCancel = dialog.findChild<QPushButton*>(QStringLiteral("cmdCancel"));
    QCheckBox* chkPass = dialog.findChild<QCheckBox*>(QStringLiteral("chkPassControllers"));
    OpenDialog() { Show(); }
    void Show() { dialog.show(); EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog)); }
};

class DevicesDialog : public ::testing::Test {
protected:
    void SetUp() override { test::ClearSettings(); }
    void TearDown() override { SetUp(); }
    test::ScriptedDialogs dialogs;
};

}  // namespace

// Every opening lists the devices afresh, so that a device plugged in meanwhile can be chosen.
TEST_F(DevicesDialog, ShowsItsLayoutAndEveryDeviceWithTheSavedChoiceAfreshOnEveryOpening) {
    test::FakeMidi midi(false, {"A name well over thirty-one characters long", "Kivra Software Synth", "USB Port"},
                        {"Keys A", "Keys B"});
    Save(kOutputDeviceKey, QStringLiteral("USB Port")), Save(kInputDeviceKey, QStringLiteral("Keys B"));
    Save(kPassControllersKey, QStringLiteral("true"));
    OpenDialog d;
    EXPECT_EQ(d.dialog.windowTitle() + (d.dialog.isModal() ? " (modal)" : ""), "Kivra - MIDI Devices (modal)");
    // The check box below the buttons makes the dialog taller; nothing else moves.
    EXPECT_EQ(QList<QRect>({d.dialog.rect(), d.lstOut->geometry(), d.lstIn->geometry(), d.cmdOK->geometry(),
                            d.cmdCancel->geometry(), d.chkPass->geometry()}),
              QList<QRect>({{0, 0, 281, 313}, {8, 32, 265, 89}, {8, 152, 265, 89}, {8, 248, 81, 33},
                            {192, 248, 81, 33}, {8, 288, 265, 17}}));
    QStringList captions;
    for (auto* l : d.dialog.findChildren<QLabel*>()) captions << l->text();
    EXPECT_EQ(captions << d.cmdOK->text() << d.cmdCancel->text() << d.chkPass->text(),
              QStringList({"Output Device", "Input Device", "OK", "Cancel", "Pass pedals and controllers"}));
    EXPECT_TRUE(d.chkPass->isChecked());

    EXPECT_EQ(Texts(d.lstOut), QStringList({"A name well over thirty-one cha", "Kivra Software Synth", "USB Port"}));
    EXPECT_EQ(Texts(d.lstIn), QStringList({"(None)", "Keys A", "Keys B"}));
    EXPECT_EQ(Texts(d.lstOut, true) + Texts(d.lstIn, true), QStringList({"USB Port", "Keys B"}));
    d.dialog.reject();
    midi.in->names = {"Keys B"};  // Keys A unplugged while the dialog was closed
    d.Show();
    EXPECT_EQ(Texts(d.lstIn), QStringList({"(None)", "Keys B"}));
    EXPECT_EQ(Texts(d.lstIn, true), QStringList{"Keys B"});
}

TEST_F(DevicesDialog, OkSavesTheNamesReopensBothDevicesAndSaysWhyAnOutputDidNotOpen) {
    const struct {
        const char* what; std::vector<std::string> outs, ins;
        QString savedOut, savedIn;  // null: not saved
        int clickOut, clickIn;      // -1: no click
        const char* refusal;        // null: the output opens; else why it refuses ("": no reason)
        bool enter;                 // Enter in the input list instead of a click on OK
        QString out, in;            // saved by OK
        int outId, inId;            // opened by OK
        QString problem;            // the message shown after OK, and the piano's tooltip
        const char* loadEnd = nullptr;  // non-null: the output loads first, then ends so ("" loaded)
        bool pass = false;              // "Pass pedals and controllers" ticked
    } cases[] = {
        {"refusing output, the default chosen", {"Kivra Software Synth"}, {}, {}, {}, -1, -1,
         "no sound output could be opened", false, "Kivra Software Synth", "(None)", -1, -1,
         "The output device \"Kivra Software Synth\" could not be opened: no sound output could be opened."},
        {"refusing without a reason", {"Synth"}, {}, {}, {}, 0, -1, "", false, "Synth", "(None)", -1, -1,
         "The output device \"Synth\" could not be opened: the device refused to open."},
        {"chosen rows", {"Kivra Software Synth", "USB Port"}, {"Keys A", "Keys B"}, {}, {}, 1, 2, nullptr, false,
         "USB Port", "Keys B", 1, 1, ""},
        {"Enter; (None) is never compared with names", {"Kivra Software Synth"}, {"(None) Keys", "Keys"}, {}, "Keys",
         -1, 0, nullptr, true, "Kivra Software Synth", "(None)", 0, -1, ""},
        {"unplugged: empty text saved, device 0 opened", {"Synth", "USB Port"}, {"Keys A", "Keys B"}, "Unplugged",
         "Gone", -1, -1, nullptr, false, "", "", 0, 0, ""},
        {"no output at all", {}, {"Keys"}, {}, {}, -1, 1, nullptr, false, "", "Keys", -1, 0,
         "No output device could be opened: there is no such device now. Choose one in MIDI Devices."},
        {"controllers passed", {"Synth"}, {"Keys"}, {}, {}, 0, 1, nullptr, false, "Synth", "Keys", 0, 0, "", nullptr, true},
        {"loading, then loaded", {"Kivra Software Synth"}, {}, {}, {}, -1, -1, nullptr, false, "Kivra Software Synth",
         "(None)", 0, -1, "", ""},
        {"loading, then the SoundFont fails", {"Kivra Software Synth"}, {}, {}, {}, -1, -1, nullptr, false,
         "Kivra Software Synth", "(None)", -1, -1,
         "The output device \"Kivra Software Synth\" could not be opened: the SoundFont x.sf2 could not be loaded.",
         "the SoundFont x.sf2 could not be loaded"},
    };
    frmPiano piano;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::ClearSettings();
        dialogs.shown.clear();
        test::FakeMidi midi(false, c.outs, c.ins);
        midi.out->refuseOpen = c.refusal != nullptr;
        midi.out->openError = c.refusal ? c.refusal : "";
        midi.out->loads = c.loadEnd != nullptr;
        if (!c.savedOut.isNull()) Save(kOutputDeviceKey, c.savedOut);
        if (!c.savedIn.isNull()) Save(kInputDeviceKey, c.savedIn);
        OpenDialog d;
        if (c.clickOut >= 0) ClickRow(d.lstOut, c.clickOut);
        if (c.clickIn >= 0) ClickRow(d.lstIn, c.clickIn);
        if (c.pass) QTest::mouseClick(d.chkPass, Qt::LeftButton);
        if (c.enter) QTest::keyClick(d.lstIn, Qt::Key_Return);
        else QTest::mouseClick(d.cmdOK, Qt::LeftButton);
        EXPECT_TRUE(!d.dialog.isVisible() && d.dialog.result() == QDialog::Accepted);
        EXPECT_EQ(QStringList({Saved(kOutputDeviceKey), Saved(kInputDeviceKey), Saved(kPassControllersKey)}), QStringList({c.out, c.in, c.pass ? "true" : "false"}));
        EXPECT_EQ(PassControllers(), c.pass);
        EXPECT_FALSE(g_bMidiOutOpen);  // usable once the driver's notification is handled
        test::ProcessEvents();
        if (c.loadEnd) {  // the window says so meanwhile, and nothing is shown yet
            EXPECT_EQ(piano.windowTitle() + '|' + piano.picPiano()->toolTip(),
                      "Kivra - Loading sounds|The SoundFont is loading; keys held now sound once it has.");
            EXPECT_TRUE(dialogs.shown.empty() && !g_bMidiOutOpen);
            midi.out->FinishLoading(c.loadEnd);
            test::ProcessEvents();
        }
        EXPECT_EQ(std::pair(midi.out->openedId, midi.in->openedId), std::pair(c.outId, c.inId));
        EXPECT_EQ(g_bMidiOutOpen, c.outId >= 0);
        QStringList shown;  // once, as a warning titled by the operation
        for (const auto& m : dialogs.shown)
            shown << m.title + ": " + m.text + (m.icon == MessageIcon::Warning ? " (!)" : "");
        EXPECT_EQ(shown, c.problem.isEmpty() ? QStringList() : QStringList{"MIDI Devices: " + c.problem + " (!)"});
        EXPECT_EQ(piano.windowTitle() + '|' + piano.picPiano()->toolTip(),
                  (c.problem.isEmpty() ? "Kivra|" : "Kivra - No sound output|") + c.problem);
    }
}

TEST_F(DevicesDialog, CancelAndEscapeChangeNothing) {
    test::FakeMidi midi(true, {"Kivra Software Synth", "USB Port"}, {"Keys"});
    Save(kInputDeviceKey, QStringLiteral("Keys"));
    OpenSavedDevices();
    midi.out->openCalls.clear(), midi.in->openCalls.clear();
    for (bool escape : {false, true}) {
        OpenDialog d;
        ClickRow(d.lstOut, 1);
        ClickRow(d.lstIn, 0);
        QTest::mouseClick(d.chkPass, Qt::LeftButton);
        if (escape) QTest::keyClick(d.lstOut, Qt::Key_Escape);
        else QTest::mouseClick(d.cmdCancel, Qt::LeftButton);
        EXPECT_TRUE(!d.dialog.isVisible() && d.dialog.result() == QDialog::Rejected);
    }
    EXPECT_EQ(Saved(kOutputDeviceKey) + '|' + Saved(kInputDeviceKey) + '|' + Saved(kPassControllersKey),
              "<absent>|Keys|<absent>");
    EXPECT_EQ(midi.out->openCalls.size() + midi.in->openCalls.size(), 0u);  // nothing reopened
    EXPECT_EQ(std::pair(midi.out->openedId, midi.in->openedId), std::pair(0, 0));
}
