#pragma once
// The link window "ZuduvIvev": Connect/Disconnect and Quit. A thin view over LinkClient, which it
// registers as the note entry points' link for as long as the window exists.

#include "link/linkclient.h"

#include <QWidget>

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
    QTcpSocket& sckMain() { return link_.sckMain(); }

    QPushButton* cmdConnect;
    QPushButton* cmdQuit;

protected:
    // Closing the window ends the link as Quit does; the window is kept, ready to show again.
    void closeEvent(QCloseEvent* event) override;
    // Escape, from any control, quits as Quit does.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnConnectClicked();
    void ShowState(LinkClient::State state);

    LinkClient link_;
};

}  // namespace kivra
