#include "link/frmlink.h"

#include "widgets/dialogs.h"
#include "widgets/twips.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

namespace kivra {

namespace {
const QString kTitle = QStringLiteral("ZuduvIvev");
}

frmLink::frmLink(QWidget* parent)
    : QWidget(parent, Qt::Window), cmdConnect(new QPushButton(tr("Connect"), this)),
      cmdQuit(new QPushButton(tr("Quit"), this)), chkBand(new QCheckBox(tr("Band Play"), this)),
      txtPassword(new QLineEdit(this)), link_(this), band_(link_, this), musicMaker_(&TheMusicMaker()) {
    setWindowTitle(kTitle);
    // The window grows below the two buttons for the band room's controls.
    setFixedSize(TwipsToPixels(1455), TwipsToPixels(2055));
    cmdConnect->setGeometry(TwipsToPixels(120), TwipsToPixels(120), TwipsToPixels(1215), TwipsToPixels(495));
    cmdQuit->setGeometry(TwipsToPixels(120), TwipsToPixels(720), TwipsToPixels(1215), TwipsToPixels(495));
    chkBand->setGeometry(TwipsToPixels(120), TwipsToPixels(1320), TwipsToPixels(1215), TwipsToPixels(255));
    txtPassword->setGeometry(TwipsToPixels(120), TwipsToPixels(1650), TwipsToPixels(1215), TwipsToPixels(285));
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPassword->setPlaceholderText(tr("Password"));
    txtPassword->setAccessibleName(tr("Room password"));
    txtPassword->setToolTip(tr("The room password of a relay that requires one, sent on connecting"));
    setTabOrder(cmdConnect, cmdQuit);
    // Enter presses the focused button, as in a dialog.
    cmdConnect->setAutoDefault(true);
    cmdQuit->setAutoDefault(true);
    setTabOrder(cmdQuit, chkBand);
    setTabOrder(chkBand, txtPassword);

    connect(chkBand, &QCheckBox::toggled, &band_, &Band::SetEnabled);
    connect(txtPassword, &QLineEdit::textChanged, this, [this](const QString& text) { link_.SetPassword(text); });
    musicMaker_->SetTransportShare(&band_);
    connect(&band_, &Band::startRequested, this, [this](const SharedStart& start) { musicMaker_->StartShared(start); });
    connect(&band_, &Band::stopRequested, this, [this] { musicMaker_->StopShared(); });

    connect(cmdConnect, &QPushButton::clicked, this, &frmLink::OnConnectClicked);
    connect(cmdQuit, &QPushButton::clicked, this, [this] {
        link_.Disconnect();
        close();
    });
    connect(&link_, &LinkClient::stateChanged, this, &frmLink::ShowState);
    connect(&link_, &LinkClient::failed, this,
            [](const QString& reason) { UserDialogs().Message(kTitle, reason, MessageIcon::Warning); });
    SetLinkPort(&link_);
}

frmLink::~frmLink() {
    if (GetLinkPort() == &link_) SetLinkPort(nullptr);
    if (musicMaker_ && musicMaker_->GetTransportShare() == &band_) musicMaker_->SetTransportShare(nullptr);
}

void frmLink::closeEvent(QCloseEvent* event) {
    link_.Disconnect();
    event->accept();
}

void frmLink::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) cmdQuit->click();
    else QWidget::keyPressEvent(event);
}

void frmLink::OnConnectClicked() {
    if (link_.state() == LinkClient::State::Connected) {
        link_.Disconnect();
        return;
    }
    if (link_.state() != LinkClient::State::NotConnected) return;
    // Cancelling the input box leaves the window as it was; an empty answer is reported.
    const auto address = UserDialogs().Input(kTitle, tr("Please enter the server address:"), QString());
    if (!address) return;
    link_.Connect(*address);
}

void frmLink::ShowState(LinkClient::State state) {
    switch (state) {
        case LinkClient::State::NotConnected:
            cmdConnect->setText(tr("Connect"));
            cmdConnect->setEnabled(true);
            break;
        case LinkClient::State::Connecting:
            cmdConnect->setText(tr("Connecting..."));
            cmdConnect->setEnabled(false);
            break;
        case LinkClient::State::Connected:
            cmdConnect->setText(tr("Disconnect"));
            cmdConnect->setEnabled(true);
            break;
    }
}

}  // namespace kivra
