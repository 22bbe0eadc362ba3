// The address and port dialog: its checks, its radio buttons, and what Save
// does to the settings file and the socket. UsesBusPorts: it binds 6000 and 15000.
#include "app/Settings.h"
#include "app/Settings_Address.h"
#include "bus/Socket.h"
#include "playback/PublicVariable.h"
#include "store/IniFile.h"
#include "support/MessageRecorder.h"
#include "support/TempProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// Another program holding a UDP port.
class PortHolder {
  public:
    explicit PortHolder(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~PortHolder() { ::close(fd_); }
    bool bound() const { return bound_; }

  private:
    int fd_ = -1;
    bool bound_ = false;
};

class AddressDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetPublicVariables();
        OpenIniFiles();
        OwnSubnetID = 1;
        OwnDeviceID = 250;
        UDPPort = 15000;
        ASSERT_TRUE(pblInitUDP("127.0.0.1", UDPPort, false));
    }
    void TearDown() override {
        pblCloseUDP();
        CloseIniFiles();
        ResetPublicVariables();
    }
    QString SystemKey(const QString& section, const QString& key) {
        return TIniFile(folder.file("Database/System.ini")).ReadString(section, key, "<none>");
    }
    // Fills the dialog, presses Save, and tells whether the dialog closed saved.
    bool Save(const QString& subnet, const QString& device, bool tarnlinkPort) {
        TfrmSettings_Address dialog;
        dialog.setAttribute(Qt::WA_DeleteOnClose, false);
        dialog.editSubnetID->setText(subnet);
        dialog.editDeviceID->setText(device);
        (tarnlinkPort ? dialog.rdobtnPortOfTarnlink : dialog.rdobtnPortOfCuelark)->setChecked(true);
        dialog.bitbtnSave->click();
        return dialog.result() == QDialog::Accepted && DialogSaved;
    }

    TempProgramFolder folder{false};
    MessageRecorder messages;
};

TEST_F(AddressDialogTest, ShowsTheCurrentValues) {
    const struct {
        uint16_t port;
        bool tarnlinkChecked;
    } cases[] = {{15000, false}, {6000, true}, {16000, false}};
    for (const auto& c : cases) {
        UDPPort = c.port;
        TfrmSettings_Address dialog;
        dialog.setAttribute(Qt::WA_DeleteOnClose, false);
        EXPECT_EQ(dialog.windowTitle(), "Software Address and UDP Port Settings");
        EXPECT_EQ(dialog.editSubnetID->text(), "1");
        EXPECT_EQ(dialog.editDeviceID->text(), "250");
        EXPECT_EQ(dialog.rdobtnPortOfTarnlink->isChecked(), c.tarnlinkChecked) << c.port;
        EXPECT_NE(dialog.rdobtnPortOfCuelark->isChecked(), c.tarnlinkChecked) << c.port;
    }
}

TEST_F(AddressDialogTest, IdsAreCheckedBeforeAnythingIsSaved) {
    const struct {
        const char* subnet;
        const char* device;
        const char* message; // empty: accepted
    } cases[] = {
        {"255", "1", "Invalid number, scope is within 0-254"},
        {"1", "255", "Invalid number, scope is within 0-254"},
        {"abc", "1", "Date type is incorrect, only numbers!"},
        {"1", "", "Date type is incorrect, only numbers!"},
        {"-1", "1", "Date type is incorrect, only numbers!"},
        {"0", "254", ""},
        {"254", "0", ""},
    };
    for (const auto& c : cases) {
        messages.clear();
        DialogSaved = false;
        const bool saved = Save(c.subnet, c.device, false);
        if (*c.message) {
            EXPECT_FALSE(saved) << c.subnet << "/" << c.device;
            EXPECT_EQ(messages.texts(), QStringList{c.message}) << c.subnet << "/" << c.device;
            EXPECT_EQ(SystemKey("SubnetID", "SubnetID"), "<none>");
        } else {
            EXPECT_TRUE(saved) << c.subnet << "/" << c.device;
            EXPECT_TRUE(messages.messages.empty());
            EXPECT_EQ(SystemKey("SubnetID", "SubnetID"), c.subnet);
            EXPECT_EQ(SystemKey("DeviceID", "DeviceID"), c.device);
            EXPECT_EQ(OwnSubnetID, QString(c.subnet).toInt());
            EXPECT_EQ(OwnDeviceID, QString(c.device).toInt());
        }
    }
}

TEST_F(AddressDialogTest, SavingTheSamePortLeavesTheSocketAlone) {
    const int before = pblSocketDescriptor();
    ASSERT_TRUE(Save("007", "9", false));
    EXPECT_EQ(pblSocketDescriptor(), before);
    EXPECT_EQ(pblBoundPort(), 15000);
    EXPECT_EQ(SystemKey("Port", "Port"), "<none>");
    // Written exactly as typed, used as a number.
    EXPECT_EQ(SystemKey("SubnetID", "SubnetID"), "007");
    EXPECT_EQ(OwnSubnetID, 7);
    EXPECT_EQ(OwnDeviceID, 9);
}

TEST_F(AddressDialogTest, ChangedPortReopensTheSocket) {
    ASSERT_TRUE(Save("1", "250", true));
    EXPECT_EQ(UDPPort, 6000);
    EXPECT_EQ(pblBoundPort(), 6000);
    EXPECT_EQ(SystemKey("Port", "Port"), "6000");
    // The old port is free again.
    EXPECT_TRUE(PortHolder(15000).bound());
}

// When the new port is taken, nothing is saved and the program goes back to
// the port it had, so it keeps sending and receiving.
TEST_F(AddressDialogTest, FailedReopenKeepsTheOldPort) {
    PortHolder other(6000);
    ASSERT_TRUE(other.bound());
    EXPECT_FALSE(Save("2", "3", true));
    EXPECT_EQ(messages.texts(),
              QStringList{"Fail to initialize UDP socket!\r\nThe UDP port 6000 might has already "
                          "been used by another software!\r\nYou must close another software and "
                          "try again later,\r\nor choose another UDP port!"});
    EXPECT_EQ(messages.messages.at(0).title, "");
    EXPECT_EQ(UDPPort, 15000);
    EXPECT_EQ(pblBoundPort(), 15000);
    EXPECT_FALSE(PortHolder(15000).bound());
    EXPECT_EQ(SystemKey("Port", "Port"), "<none>");
    EXPECT_EQ(SystemKey("SubnetID", "SubnetID"), "<none>");
    EXPECT_EQ(OwnSubnetID, 1);
}
} // namespace

namespace {
// A settings file that cannot be written (here a folder stands in its place):
// the dialog says so and stays open instead of reporting a save that the next
// start would not see, and the socket stays on the port the file names.
TEST_F(AddressDialogTest, UnwritableSettingsFileSavesNothing) {
    const QString ini = folder.file("Database/System.ini");
    QFile::remove(ini);
    ASSERT_TRUE(QDir().mkpath(ini));
    for (bool tarnlinkPort : {false, true}) {
        messages.clear();
        DialogSaved = false;
        EXPECT_FALSE(Save("2", "3", tarnlinkPort)) << tarnlinkPort;
        ASSERT_EQ(messages.messages.size(), 1u) << tarnlinkPort;
        EXPECT_EQ(messages.messages[0].text,
                  "Could not write the settings file " + ini + "; nothing more was saved.");
        EXPECT_EQ(OwnSubnetID, 1);
        EXPECT_EQ(OwnDeviceID, 250);
        EXPECT_EQ(UDPPort, 15000);
        EXPECT_EQ(pblBoundPort(), 15000);
    }
}
} // namespace
