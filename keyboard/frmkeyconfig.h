#pragma once
// "Kivra - Key Configuration": edits the key map one computer key at a time. The user presses the
// key to edit (captured by the keyboard hook while chkKey is checked), chooses its action and
// ticks its notes; every change goes straight into g_KeyMap. Profiles are saved and loaded by
// name. Shown modally by the piano window. Called on the UI thread only.

#include <QDialog>

#include <array>

class QAbstractButton;
class QButtonGroup;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace kivra {

class NoteBox;

class frmKeyConfig : public QDialog {
    Q_OBJECT
public:
    explicit frmKeyConfig(QWidget* parent = nullptr);
    ~frmKeyConfig() override;

    // Captures key `p_lKey` for editing when chkKey is checked; otherwise does nothing.
    void SetKey(int p_lKey);
    int CurrentKey() const { return m_lKey; }

    QLabel* lblKey() const { return lblKey_; }
    QPushButton* chkKey() const { return chkKey_; }
    QGroupBox* fraProfile() const { return fraProfile_; }
    QPushButton* cmdSave() const { return cmdSave_; }
    QPushButton* cmdLoad() const { return cmdLoad_; }
    QGroupBox* fraAction() const { return fraAction_; }
    QRadioButton* optAction(int index) const { return optAction_[static_cast<std::size_t>(index)]; }
    QGroupBox* fraNotes() const { return fraNotes_; }
    QAbstractButton* chkNote(int note) const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ShowEntry();  // the action and notes of m_lKey, without touching the key map
    void chkKey_Click();
    void chkNote_Click(int index);
    void chkNote_MouseUp();
    void optAction_Click(int index);
    void cmdSave_Click();
    void cmdLoad_Click();

    int m_lKey = 0;
    bool showing_ = false;  // ShowEntry is selecting options: they must not write back
    QLabel* lblKey_ = nullptr;
    QPushButton* chkKey_ = nullptr;
    QFrame* linSeparator_ = nullptr;
    QGroupBox* fraProfile_ = nullptr;
    QPushButton* cmdSave_ = nullptr;
    QPushButton* cmdLoad_ = nullptr;
    QGroupBox* fraAction_ = nullptr;
    QButtonGroup* actionGroup_ = nullptr;
    std::array<QRadioButton*, 7> optAction_{};
    QGroupBox* fraNotes_ = nullptr;
    std::array<NoteBox*, 128> chkNote_{};
};

}  // namespace kivra
