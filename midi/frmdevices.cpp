#include "midi/frmdevices.h"

#include "midi/devices.h"
#include "widgets/dialogs.h"
#include "widgets/twips.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>

namespace kivra {
namespace {

void Place(QWidget* control, int left, int top, int width, int height) {
    control->setGeometry(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width), TwipsToPixels(height));
}

QListWidget* MakeList(QWidget* parent, const char* name) {
    auto* list = new QListWidget(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSortingEnabled(false);
    return list;
}

// Selects the first entry whose text equals `text`; no selection when none does.
void SelectText(QListWidget* list, const QString& text) {
    list->clearSelection();
    list->setCurrentRow(-1);
    for (int row = 0; row < list->count(); ++row) {
        if (list->item(row)->text() == text) {
            list->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
            return;
        }
    }
}

// The focus can make a row current without selecting it, so read the selection, not the current row.
QString SelectedText(const QListWidget* list) {
    const auto selected = list->selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

}  // namespace

void ReportOutputProblem(const QString& problem) {
    if (!problem.isEmpty()) UserDialogs().Message(QCoreApplication::translate("MidiDevices", kOutputProblemTitle), problem, MessageIcon::Warning);
}

frmDevices::frmDevices(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmDevices"));
    setWindowTitle(tr("Kivra - MIDI Devices"));
    setModal(true);
    // One row taller than the device lists and buttons need: the controller check box sits below them.
    setFixedSize(TwipsToPixels(4215), TwipsToPixels(4695));

    lblOut = new QLabel(tr("Output Device"), this);
    lblOut->setObjectName(QStringLiteral("lblOut"));
    Place(lblOut, 120, 120, 3975, 255);
    lstOut = MakeList(this, "lstOut");
    Place(lstOut, 120, 480, 3975, 1335);

    lblIn = new QLabel(tr("Input Device"), this);
    lblIn->setObjectName(QStringLiteral("lblIn"));
    Place(lblIn, 120, 1920, 3975, 255);
    lstIn = MakeList(this, "lstIn");
    Place(lstIn, 120, 2280, 3975, 1335);

    cmdOK = new QPushButton(tr("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    Place(cmdOK, 120, 3720, 1215, 495);

    cmdCancel = new QPushButton(tr("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    Place(cmdCancel, 2880, 3720, 1215, 495);

    chkPassControllers = new QCheckBox(tr("Pass pedals and controllers"), this);
    chkPassControllers->setObjectName(QStringLiteral("chkPassControllers"));
    Place(chkPassControllers, 120, 4320, 3975, 255);

    // The lists are named by the captions above them; the check box comes before the buttons.
    lstOut->setAccessibleName(lblOut->text());
    lstIn->setAccessibleName(lblIn->text());
    setTabOrder(lstOut, lstIn);
    setTabOrder(lstIn, chkPassControllers);
    setTabOrder(chkPassControllers, cmdOK);
    setTabOrder(cmdOK, cmdCancel);

    connect(cmdOK, &QPushButton::clicked, this, &frmDevices::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmDevices::cmdCancel_Click);
}

void frmDevices::showEvent(QShowEvent* event) {
    // A spontaneous show is the window system restoring the window, not a new opening.
    if (!event->spontaneous()) Form_Load();
    QDialog::showEvent(event);
}

void frmDevices::Form_Load() {
    lstOut->clear();
    for (int id = 0, count = GetMIDIOutCount(); id < count; ++id) lstOut->addItem(GetMIDIOutName(id));
    lstIn->clear();
    lstIn->addItem(tr("(None)"));  // saved as kNoInputDevice in every language
    for (int id = 0, count = GetMIDIInCount(); id < count; ++id) lstIn->addItem(GetMIDIInName(id));

    SelectText(lstOut, GetSetting(kSettingsSection, kOutputDeviceKey, kDefaultOutputDevice));
    const QString in = GetSetting(kSettingsSection, kInputDeviceKey, kNoInputDevice);
    SelectText(lstIn, in == kNoInputDevice ? lstIn->item(0)->text() : in);
    chkPassControllers->setChecked(GetFlagSetting(kSettingsSection, kPassControllersKey));
}

void frmDevices::cmdOK_Click() {
    SaveSetting(kSettingsSection, kOutputDeviceKey, SelectedText(lstOut));
    SaveSetting(kSettingsSection, kInputDeviceKey, lstIn->item(0)->isSelected() ? kNoInputDevice : SelectedText(lstIn));
    SaveFlagSetting(kSettingsSection, kPassControllersKey, chkPassControllers->isChecked());
    const QString problem = OpenSavedDevices();
    accept();
    ReportOutputProblem(problem);
}

// Escape reaches here too, through reject().
void frmDevices::cmdCancel_Click() { reject(); }

}  // namespace kivra
