#pragma once
// The device dialog: lists the MIDI output and input devices, shows the remembered choice, saves
// the new choice by name and has both devices reopened at once. Shown modally with exec().

#include <QDialog>

class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;
class QShowEvent;

namespace kivra {

// Tells the user, in a message, why the output did not open; nothing when `problem` is empty.
void ReportOutputProblem(const QString& problem);

class frmDevices : public QDialog {
    Q_OBJECT
public:
    explicit frmDevices(QWidget* parent = nullptr);

protected:
    // Each opening enumerates the devices afresh; the dialog keeps nothing between openings.
    void showEvent(QShowEvent* event) override;

private:
    void Form_Load();
    void cmdOK_Click();
    void cmdCancel_Click();

    QLabel* lblOut;
    QListWidget* lstOut;
    QLabel* lblIn;
    QListWidget* lstIn;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;
    QCheckBox* chkPassControllers;
};

}  // namespace kivra
