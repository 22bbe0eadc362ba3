// Reading System.ini at start-up: the key table, its fallbacks, and the local
// address chosen from it.
#include "app/Settings.h"
#include "bus/Socket.h"
#include "playback/PublicVariable.h"
#include "store/IniFile.h"
#include "support/FakePlayer.h"
#include "support/MessageRecorder.h"
#include "support/TempProgramFolder.h"

#include <gtest/gtest.h>
#include <map>

namespace {
class StatusRecorder : public TStatusSink {
  public:
    void SetStatusText(int kind, const QString& text, const QString& subnet, const QString& device,
                       const QString& address) override {
        panels[kind] = kind == 0   ? text
                       : kind == 1 ? "Subnet ID:" + subnet + " Device ID:" + device
                                   : "IP:" + address;
    }
    std::map<int, QString> panels;
};

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetPublicVariables();
        // Values that no key of the file would give, to see what is written.
        OwnSubnetID = 77;
        OwnDeviceID = 77;
        BusGeneration = 77;
        UDPPort = 77;
    }
    void TearDown() override {
        CloseIniFiles();
        ResetPublicVariables();
    }
    // Writes System.ini (always keeping the loopback address) and reads it.
    void Load(const QByteArray& body) {
        folder.writeFile("Database/System.ini", "[ip]\r\nip=127.0.0.1\r\n" + body);
        OpenIniFiles();
        LoadSystemSettings(&player, &status);
    }
    TempProgramFolder folder{false};
    FakePlayer player;
    StatusRecorder status;
    MessageRecorder messages;
};

TEST_F(SettingsTest, MissingKeysGiveTheDefaults) {
    Load("");
    EXPECT_EQ(OwnSubnetID, 0);
    EXPECT_EQ(OwnDeviceID, 0);
    EXPECT_EQ(UDPPort, 15000);
    EXPECT_EQ(BusGeneration, 3);
    EXPECT_FALSE(player.Mute());
    EXPECT_EQ(player.Volume(), 20);
    EXPECT_EQ(LocalIPString, "127.0.0.1");
    EXPECT_EQ(status.panels[1], "Subnet ID:0 Device ID:0");
    EXPECT_EQ(status.panels[2], "IP:127.0.0.1");
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(SettingsTest, GenerationNumberFallsBackToThree) {
    const struct {
        const char* text;
        int expected;
    } cases[] = {{"2", 3}, {"3", 3},  {"4", 4},   {"255", 255}, {"256", 3},
                 {"0", 3}, {"-1", 3}, {"abc", 3}, {"", 3}};
    for (const auto& c : cases) {
        Load(QByteArray("[Generation]\r\nGenerationNo=") + c.text + "\r\n");
        EXPECT_EQ(BusGeneration, c.expected) << "GenerationNo=" << c.text;
        CloseIniFiles();
    }
}

TEST_F(SettingsTest, PortFallsBackTo15000) {
    const struct {
        const char* text;
        int expected;
    } cases[] = {{"6000", 6000},   {"0", 0},        {"65535", 65535}, {"-1", 15000},
                 {"65536", 15000}, {"text", 15000}, {"", 15000}};
    for (const auto& c : cases) {
        Load(QByteArray("[Port]\r\nPort=") + c.text + "\r\n");
        EXPECT_EQ(UDPPort, c.expected) << "Port=" << c.text;
        CloseIniFiles();
    }
}

TEST_F(SettingsTest, SectionsAndKeysMatchWithoutRegardToCase) {
    Load("[SUBNETID]\r\nsubnetid=1\r\n[deviceid]\r\nDEVICEID=250\r\n[port]\r\nPORT=6000\r\n"
         "[GENERATION]\r\ngenerationno=4\r\n");
    EXPECT_EQ(OwnSubnetID, 1);
    EXPECT_EQ(OwnDeviceID, 250);
    EXPECT_EQ(UDPPort, 6000);
    EXPECT_EQ(BusGeneration, 4);
    EXPECT_EQ(status.panels[1], "Subnet ID:1 Device ID:250");
}

TEST_F(SettingsTest, IdsKeepTheirLowEightBits) {
    Load("[SubnetID]\r\nSubnetID=300\r\n[DeviceID]\r\nDeviceID=256\r\n");
    EXPECT_EQ(OwnSubnetID, 44);
    EXPECT_EQ(OwnDeviceID, 0);
}

// A typo in one entry reads as that entry's default; the rest is still read,
// so the port and the local address are not lost to it.
TEST_F(SettingsTest, MalformedEntryReadsAsDefaultAndReadingGoesOn) {
    Load("[SubnetID]\r\nSubnetID=1x\r\n[DeviceID]\r\nDeviceID=9\r\n[Port]\r\nPort=6000\r\n"
         "[IP]\r\nMUTE=yes\r\nVOL=loud\r\n");
    EXPECT_EQ(OwnSubnetID, 0);
    EXPECT_EQ(OwnDeviceID, 9);
    EXPECT_EQ(UDPPort, 6000);
    EXPECT_FALSE(player.Mute());
    EXPECT_EQ(player.Volume(), 20);
    EXPECT_EQ(LocalIPString, "127.0.0.1");
    EXPECT_EQ(status.panels[2], "IP:127.0.0.1");
}

TEST_F(SettingsTest, MuteAndVolumeReachThePlayer) {
    Load("[IP]\r\nMUTE=1\r\nVOL=35\r\n");
    EXPECT_TRUE(player.Mute());
    EXPECT_EQ(player.Volume(), 35);
    CloseIniFiles();
    Load("[IP]\r\nMUTE=0\r\nVOL=60\r\n");
    EXPECT_FALSE(player.Mute());
    EXPECT_EQ(player.Volume(), 60);
}

TEST_F(SettingsTest, UnknownConfiguredAddressIsReplacedAndWrittenBack) {
    folder.writeFile("Database/System.ini", "[ip]\r\nip=203.0.113.77\r\n");
    OpenIniFiles();
    LoadSystemSettings(&player, &status);
    // The computer's first address replaces it, and the file now names it.
    EXPECT_NE(LocalIPString, "203.0.113.77");
    EXPECT_FALSE(LocalIPString.isEmpty());
    TIniFile fresh(folder.file("Database/System.ini"));
    EXPECT_EQ(fresh.ReadString("ip", "ip", QString()), LocalIPString);
    EXPECT_EQ(status.panels[2], "IP:" + LocalIPString);
}
} // namespace
