// The device dialog: what it lists and selects, what OK and Cancel save and reopen.
#include "midi/devices.h"
#include "midi/frmdevices.h"
#include "midi/midiio.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTest>

using namespace kivra;

namespace {

void ClearSettings() { QSettings(QStringLiteral("Kivra"), QStringLiteral("Kivra")).clear(); }
void Save(const QString& key, const QString& name) { SaveSetting(kSettingsSection, key, name); }
QString Out() { return GetSetting(kSettingsSection, kOutputDeviceKey, QStringLiteral("<absent>")); }
QString In() { return GetSetting(kSettingsSection, kInputDeviceKey, QStringLiteral("<absent>")); }

QStringList Texts(const QListWidget* list, bool selectedOnly = false) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        if (!selectedOnly || list->item(i)->isSelected()) out << list->item(i)->text();
    return out;
}
QStringList Selected(const QListWidget* list) { return Texts(list, true); }
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
    OpenDialog() { Show(); }
    void Show() {
        dialog.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    }
};

class DevicesDialog : public ::testing::Test {
protected:
    void SetUp() override { ClearSettings(); }
    void TearDown() override { ClearSettings(); }
};

}  // namespace

TEST_F(DevicesDialog, ShowsItsLayoutAndEveryDeviceWithTheSavedChoiceOrTheDefaults) {
    test::FakeMidi midi(false, {"A name well over thirty-one characters long", "Kivra Software Synth", "USB Port"},
                        {"Keys A", "Keys B"});
    {
        OpenDialog first;  // nothing saved yet
        EXPECT_EQ(Selected(first.lstOut), QStringList{"Kivra Software Synth"});
        EXPECT_EQ(Selected(first.lstIn), QStringList{"(None)"});
    }
    Save(kOutputDeviceKey, QStringLiteral("USB Port"));
    Save(kInputDeviceKey, QStringLiteral("Keys B"));
    OpenDialog d;
    EXPECT_EQ(d.dialog.windowTitle(), "Kivra - MIDI Devices");
    EXPECT_TRUE(d.dialog.isModal());
    EXPECT_EQ(d.dialog.size(), QSize(281, 289));
    EXPECT_EQ(d.lstOut->geometry(), QRect(8, 32, 265, 89));
    EXPECT_EQ(d.lstIn->geometry(), QRect(8, 152, 265, 89));
    EXPECT_EQ(d.cmdOK->geometry(), QRect(8, 248, 81, 33));
    EXPECT_EQ(d.cmdCancel->geometry(), QRect(192, 248, 81, 33));
    QStringList labels;
    for (auto* l : d.dialog.findChildren<QLabel*>()) labels << l->text();
    EXPECT_EQ(labels, QStringList({"Output Device", "Input Device"}));
    EXPECT_EQ(d.cmdOK->text(), "OK");
    EXPECT_EQ(d.cmdCancel->text(), "Cancel");

    EXPECT_EQ(Texts(d.lstOut), QStringList({"A name well over thirty-one cha", "Kivra Software Synth", "USB Port"}));
    EXPECT_EQ(Texts(d.lstIn), QStringList({"(None)", "Keys A", "Keys B"}));
    EXPECT_EQ(Selected(d.lstOut), QStringList{"USB Port"});
    EXPECT_EQ(Selected(d.lstIn), QStringList{"Keys B"});
}

TEST_F(DevicesDialog, OkSavesTheNamesAndReopensBothDevicesAtOnce) {
    test::FakeMidi midi(true, {"Kivra Software Synth", "USB Port"}, {"Keys A", "Keys B"});
    midi.out->openCalls.clear();
    OpenDialog d;
    ClickRow(d.lstOut, 1);
    ClickRow(d.lstIn, 2);
    QTest::mouseClick(d.cmdOK, Qt::LeftButton);
    EXPECT_FALSE(d.dialog.isVisible());
    EXPECT_EQ(d.dialog.result(), QDialog::Accepted);
    EXPECT_EQ(Out(), "USB Port");
    EXPECT_EQ(In(), "Keys B");
    EXPECT_EQ(midi.out->openCalls, std::vector<int>{1});
    EXPECT_EQ(midi.out->openedId, 1);
    EXPECT_EQ(midi.in->openedId, 1);
    EXPECT_FALSE(g_bMidiOutOpen);  // usable once the driver's notification is handled
    test::ProcessEvents();
    EXPECT_TRUE(g_bMidiOutOpen);

    // Enter presses OK from the list too; "(None)" closes the input.
    OpenDialog again;
    ClickRow(again.lstIn, 0);
    QTest::keyClick(again.lstIn, Qt::Key_Return);
    EXPECT_FALSE(again.dialog.isVisible());
    EXPECT_EQ(In(), "(None)");
    EXPECT_EQ(midi.in->openedId, -1);
}

TEST_F(DevicesDialog, CancelAndEscapeChangeNothing) {
    test::FakeMidi midi(true, {"Kivra Software Synth", "USB Port"}, {"Keys"});
    Save(kInputDeviceKey, QStringLiteral("Keys"));
    OpenSavedDevices();
    midi.out->openCalls.clear();
    midi.in->openCalls.clear();
    for (bool escape : {false, true}) {
        OpenDialog d;
        ClickRow(d.lstOut, 1);
        ClickRow(d.lstIn, 0);
        if (escape) QTest::keyClick(d.lstOut, Qt::Key_Escape);
        else QTest::mouseClick(d.cmdCancel, Qt::LeftButton);
        EXPECT_FALSE(d.dialog.isVisible());
        EXPECT_EQ(d.dialog.result(), QDialog::Rejected);
    }
    EXPECT_EQ(Out(), "<absent>");
    EXPECT_EQ(In(), "Keys");
    EXPECT_TRUE(midi.out->openCalls.empty());
    EXPECT_TRUE(midi.in->openCalls.empty());
    EXPECT_EQ(midi.out->openedId, 0);
    EXPECT_EQ(midi.in->openedId, 0);
}

TEST_F(DevicesDialog, UnpluggedSavedDevicesSelectNothingAndOkSavesEmptyTextWhichOpensDeviceZero) {
    test::FakeMidi midi(false, {"Synth", "USB Port"}, {"Keys A", "Keys B"});
    Save(kOutputDeviceKey, QStringLiteral("Unplugged"));
    Save(kInputDeviceKey, QStringLiteral("Gone"));
    OpenDialog d;
    EXPECT_TRUE(Selected(d.lstOut).isEmpty());
    EXPECT_TRUE(Selected(d.lstIn).isEmpty());
    QTest::mouseClick(d.cmdOK, Qt::LeftButton);
    EXPECT_EQ(Out(), "");
    EXPECT_EQ(In(), "");
    EXPECT_EQ(midi.out->openedId, 0);
    EXPECT_EQ(midi.in->openedId, 0);
    CloseMIDIDevices();  // and so does the next start
    OpenSavedDevices();
    EXPECT_EQ(midi.out->openedId, 0);
    EXPECT_EQ(midi.in->openedId, 0);
}

TEST_F(DevicesDialog, TwoDevicesWithOneNameSaveThatNameAndOpenTheLowerId) {
    test::FakeMidi midi(false, {"Synth", "Twin", "Twin"}, {"Pad", "Pad"});
    OpenDialog d;
    EXPECT_EQ(Texts(d.lstOut), QStringList({"Synth", "Twin", "Twin"}));
    ClickRow(d.lstOut, 2);
    ClickRow(d.lstIn, 2);
    QTest::mouseClick(d.cmdOK, Qt::LeftButton);
    EXPECT_EQ(Out(), "Twin");
    EXPECT_EQ(In(), "Pad");
    EXPECT_EQ(midi.out->openedId, 1);
    EXPECT_EQ(midi.in->openedId, 0);
}

TEST_F(DevicesDialog, EveryOpeningListsTheDevicesAfreshSoAReturningDeviceCanBeChosen) {
    test::FakeMidi midi(false, {}, {"Keys"});
    OpenDialog d;
    EXPECT_TRUE(Texts(d.lstOut).isEmpty());
    ClickRow(d.lstIn, 1);
    QTest::mouseClick(d.cmdOK, Qt::LeftButton);
    EXPECT_EQ(midi.in->openedId, 0);
    midi.in->names.clear();  // the keyboard is unplugged
    d.Show();
    EXPECT_EQ(Texts(d.lstIn), QStringList{"(None)"});
    EXPECT_TRUE(Selected(d.lstIn).isEmpty());
    d.dialog.reject();
    midi.in->names = {"Other", "Keys"};  // and back, behind another device
    d.Show();
    EXPECT_EQ(Texts(d.lstIn), QStringList({"(None)", "Other", "Keys"}));
    EXPECT_EQ(Selected(d.lstIn), QStringList{"Keys"});
    d.cmdOK->click();
    EXPECT_EQ(midi.in->openedId, 1);
}
