#include "app/Settings_Address.h"

#include "bus/Socket.h"
#include "playback/PublicVariable.h"
#include "store/Helpers.h"
#include "store/IniFile.h"

#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

namespace {
constexpr uint16_t CuelarkPort = 15000;
constexpr uint16_t TarnlinkPort = 6000;

QLabel* Note(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, QColor(64, 128, 128));
    label->setPalette(pal);
    label->setWordWrap(true);
    return label;
}

QRadioButton* BoldRadio(const QString& text, QWidget* parent) {
    auto* button = new QRadioButton(text, parent);
    QFont f = button->font();
    f.setBold(true);
    button->setFont(f);
    return button;
}
} // namespace

TfrmSettings_Address::TfrmSettings_Address(QWidget* parent) : QDialog(parent) {
    setObjectName("frmSettings_Address");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(527, 340);
    setWindowTitle("Software Address and UDP Port Settings");

    auto* lblSubnet = new QLabel("Subnet ID (0-254):", this);
    lblSubnet->setGeometry(40, 30, 150, 22);
    editSubnetID = new QLineEdit(this);
    editSubnetID->setGeometry(200, 28, 65, 24);
    auto* lblDevice = new QLabel("Device ID (0-254):", this);
    lblDevice->setGeometry(40, 66, 150, 22);
    editDeviceID = new QLineEdit(this);
    editDeviceID->setGeometry(200, 64, 65, 24);

    auto* lblPort = new QLabel("UDP Receive Port: ", this);
    lblPort->setGeometry(40, 110, 150, 22);
    rdobtnPortOfCuelark = BoldRadio("Cuelark Port 15000", this);
    rdobtnPortOfCuelark->setGeometry(200, 108, 300, 24);
    Note("(No need received data from Tarnlink,Only Control)", this)
        ->setGeometry(218, 134, 290, 22);
    rdobtnPortOfTarnlink = BoldRadio("Tarnlink Port 6000", this);
    rdobtnPortOfTarnlink->setGeometry(200, 166, 300, 24);
    Note("(Need receive data from Tarnlink such as Universal Switch Command)", this)
        ->setGeometry(218, 192, 290, 40);
    auto* group = new QButtonGroup(this);
    group->addButton(rdobtnPortOfCuelark);
    group->addButton(rdobtnPortOfTarnlink);

    bitbtnSave = new QPushButton(style()->standardIcon(QStyle::SP_DialogSaveButton), "Save", this);
    bitbtnSave->setGeometry(300, 280, 96, 32);
    bitbtnClose = new QPushButton("Close", this);
    bitbtnClose->setGeometry(408, 280, 96, 32);
    connect(bitbtnSave, &QPushButton::clicked, this, &TfrmSettings_Address::bitbtnSaveClick);
    connect(bitbtnClose, &QPushButton::clicked, this, &QDialog::reject);

    editSubnetID->setText(QString::number(OwnSubnetID));
    editDeviceID->setText(QString::number(OwnDeviceID));
    if (UDPPort == TarnlinkPort)
        rdobtnPortOfTarnlink->setChecked(true);
    else
        rdobtnPortOfCuelark->setChecked(true);
}

bool TfrmSettings_Address::WriteSetting(const QString& key, const QString& value) {
    // The key is its own section in the settings file.
    if (SystemIniFile && SystemIniFile->WriteString(key, key, value))
        return true;
    // Saying "saved" now would lose the change at the next start.
    pblShowMsg(this,
               "Could not write the settings file " +
                   (SystemIniFile ? SystemIniFile->FileName() : QString("Database/System.ini")) +
                   "; nothing more was saved.",
               QString());
    return false;
}

void TfrmSettings_Address::bitbtnSaveClick() {
    try {
        const QString subnet = editSubnetID->text();
        const QString device = editDeviceID->text();
        if (!pblCheckNumber(subnet, true, 0, 254, true))
            return;
        if (!pblCheckNumber(device, true, 0, 254, true))
            return;

        const uint16_t port = rdobtnPortOfCuelark->isChecked() ? CuelarkPort : TarnlinkPort;
        if (port != UDPPort) {
            pblCloseUDP();
            if (!pblInitUDP(LocalIPString, port, false)) {
                pblShowMsg(this,
                           "Fail to initialize UDP socket!\r\nThe UDP port " +
                               QString::number(port) +
                               " might has already been used by another software!" + "\r\n" +
                               "You must close another software and try again later," + "\r\n" +
                               "or choose another UDP port!",
                           QString());
                // Go back to the port we had, so the program keeps sending and
                // receiving while the user sorts out the other software.
                pblInitUDP(LocalIPString, UDPPort, false);
                return;
            }
            if (!WriteSetting("Port", QString::number(port))) {
                // The next start would use the old port: keep using it now.
                pblCloseUDP();
                pblInitUDP(LocalIPString, UDPPort, false);
                return;
            }
            UDPPort = port;
        }

        if (!WriteSetting("SubnetID", subnet) || !WriteSetting("DeviceID", device))
            return;
        OwnSubnetID = static_cast<uint8_t>(subnet.toInt());
        OwnDeviceID = static_cast<uint8_t>(device.toInt());
        DialogSaved = true;
        accept();
    } catch (...) {
    }
}
