#pragma once
// The link window "ZuduvIvev": Connect/Disconnect and Quit, and below them Band Play and the room
// password. A thin view over LinkClient, which it registers as the note entry points' link, and
// over the band, which it registers as the Music Maker's transport share, for as long as the
// window exists.

#include "link/band.h"
#include "link/linkclient.h"

#include <QPointer>
#include <QWidget>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QCloseEvent;
class QKeyEvent;

namespace kivra {

class frmLink : public QWidget {
    Q_OBJECT
public:
    explicit frmLink(QWidget* parent = nullptr);
    ~frmLink() override;

    LinkClient& link() { return link_; }
    Band& band() { return band_; }
    QTcpSocket& sckMain() { return link_.sckMain(); }

    QPushButton* cmdConnect;
    QPushButton* cmdQuit;
    QCheckBox* chkBand;        // Band Play, off
    QLineEdit* txtPassword;    // the room password sent on connecting when not empty

protected:
    // Closing the window ends the link as Quit does; the window is kept, ready to show again.
    void closeEvent(QCloseEvent* event) override;
    // Escape, from any control, quits as Quit does.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnConnectClicked();
    void ShowState(LinkClient::State state);

    LinkClient link_;
    Band band_;
    QPointer<MusicMaker> musicMaker_;
};

}  // namespace kivra
