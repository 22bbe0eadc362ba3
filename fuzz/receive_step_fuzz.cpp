// Feeds arbitrary datagrams through what a receive step does with them: the
// acceptance rules, then the universal-switch handler, with a real show list
// wired to StartSelectedShow as the main window wires it, a small player that
// only keeps its state, and every reply captured instead of sent. A simple
// model of the handler says what must have happened: which show is selected
// and started, what the player was told, and the one reply (or none).
//
// The four address octets at the front of a datagram are never looked at by
// the program, so the target reads the starting state from them: which show
// plays, whether the player is paused, whether the program is closing, and
// whether the body is also handed over cut short.
#include "bus/Packet.h"
#include "bus/ReceiveSocket.h"
#include "bus/Socket.h"
#include "platform/Player.h"
#include "playback/PublicVariable.h"
#include "playback/RunShow.h"
#include "playback/ShowModel.h"
#include "store/IniFile.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSignalBlocker>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

constexpr uint8_t OwnSubnet = 1;
constexpr uint8_t OwnDevice = 250;

// Keeps what the handler and StartSelectedShow ask of it; no media, no signals.
class TinyPlayer : public IPlayer {
  public:
    QString URL() const override { return url; }
    void SetURL(const QString& u) override {
        ++setURLs;
        if (u == url)
            return;
        url = u;
        position = 0;
        state = u.isEmpty() ? psStopped : psTransitioning;
    }
    int PlayState() const override { return state; }
    void Play() override {
        ++plays;
        if (!url.isEmpty())
            state = psPlaying;
    }
    void Pause() override {
        if (state == psPlaying)
            state = psPaused;
    }
    void Stop() override {
        ++stops;
        state = psStopped;
        position = 0;
    }
    double CurrentPosition() const override { return position; }
    void SetCurrentPosition(double s) override { position = s; }
    int Volume() const override { return 50; }
    void SetVolume(int) override {}
    bool Mute() const override { return false; }
    void SetMute(bool) override {}
    bool FullScreen() const override { return false; }
    void SetFullScreen(bool) override {}

    QString url;
    int state = psStopped;
    double position = 0;
    int setURLs = 0;
    int plays = 0;
    int stops = 0;
};

struct ShowRow {
    int32_t id;
    uint8_t active;
    uint8_t switchID;
    const char* url;
};
// Two shows on switch 2 (the first wins), one on switch 3 not activated, and
// two shows sharing their media.
constexpr ShowRow ShowRows[] = {
    {1, 1, 1, "/media/one.webm"},  {2, 1, 2, "/media/two.webm"}, {3, 1, 2, "/media/three.webm"},
    {4, 0, 3, "/media/four.webm"}, {5, 1, 4, "/media/one.webm"}, {6, 1, 0, "/media/six.webm"},
};
constexpr int ShowCount = static_cast<int>(std::size(ShowRows));

QTreeWidget* List = nullptr;
TinyPlayer* Player = nullptr;
int CurrentShowIndex = -1;
std::vector<std::vector<uint8_t>> Broadcasts;
std::vector<QString> Loaded;

void SetUpOnce() {
    static QTemporaryDir dir;
    Check(dir.isValid());
    QFile ini(dir.filePath("Show.ini"));
    Check(ini.open(QIODevice::WriteOnly));
    for (const ShowRow& r : ShowRows)
        ini.write(QString("[%1]\r\nShowName=Show %1\r\nURL=%2\r\n").arg(r.id).arg(r.url).toUtf8());
    ini.close();
    ShowIniFile = new TIniFile(dir.filePath("Show.ini"));

    List = new QTreeWidget;
    List->setColumnCount(2);
    List->setSelectionMode(QAbstractItemView::SingleSelection);
    for (const ShowRow& r : ShowRows) {
        auto* item = new QTreeWidgetItem(List);
        item->setText(0, QString("Show %1").arg(r.id));
        item->setText(1, QString::number(r.id));
    }
    Player = new TinyPlayer;
    QObject::connect(List, &QTreeWidget::itemSelectionChanged,
                     [] { StartSelectedShow(List, Player, CurrentShowIndex); });
}

// The starting state, from the address octets the program ignores.
struct Start {
    int playingRow = -1; // -1: nothing loaded yet
    bool paused = false;
    bool closing = false;
    int cutTo = -1; // also hand the body over cut to this length (0 to 10)
};

Start StartFrom(const uint8_t* data, size_t size) {
    Start s;
    const uint8_t a = size > 0 ? data[0] : 0;
    const uint8_t b = size > 1 ? data[1] : 0;
    s.playingRow = a % (ShowCount + 1) - 1;
    s.paused = b & 1;
    s.closing = (b & 0x0E) == 0x0E; // rarely: most inputs should reach the handler
    if (b & 0x10)
        s.cutTo = (b >> 5) % 11;
    return s;
}

void Arrange(const Start& s) {
    QSignalBlocker quiet(List);
    Shows.assign(ShowCount, TShow{});
    for (int i = 0; i < ShowCount; ++i) {
        Shows[i].ShowID = ShowRows[i].id;
        Shows[i].URL = ShowRows[i].url;
        Shows[i].ActivedUniversalSwitch = ShowRows[i].active;
        Shows[i].UniversalSwitchID = ShowRows[i].switchID;
    }
    OwnSubnetID = OwnSubnet;
    OwnDeviceID = OwnDevice;
    BusGeneration = 3;
    LocalIPOctets = {127, 0, 0, 1};
    LocalIPString = "127.0.0.1";
    AppClosing = s.closing;
    List->clearSelection();
    List->setCurrentItem(nullptr, 0, QItemSelectionModel::NoUpdate);
    Player->url.clear();
    Player->state = IPlayer::psStopped;
    PlayingShowID = -1;
    CurrentShowIndex = -1;
    if (s.playingRow >= 0) {
        QTreeWidgetItem* item = List->topLevelItem(s.playingRow);
        List->setCurrentItem(item);
        item->setSelected(true);
        Player->url = ShowRows[s.playingRow].url;
        Player->state = s.paused ? IPlayer::psPaused : IPlayer::psPlaying;
        PlayingShowID = ShowRows[s.playingRow].id;
        CurrentShowIndex = s.playingRow;
    }
    Player->setURLs = Player->plays = Player->stops = 0;
    Broadcasts.clear();
    Loaded.clear();
}

int SelectedRow() {
    const auto items = List->selectedItems();
    return items.size() == 1 ? List->indexOfTopLevelItem(items[0]) : -1;
}

// What the handler must do with a body, worked out from the show table alone.
struct Expected {
    bool acts = false;
    int row = -1;
    uint8_t number = 0, status = 0, toSubnet = 0, toDevice = 0;
};

Expected Model(const std::vector<uint8_t>& body, bool closing) {
    Expected e;
    if (closing || body.size() < 11)
        return e;
    if (body[5] != 0xE0 || body[6] != 0x1C || body[7] != OwnSubnet || body[8] != OwnDevice)
        return e;
    for (int i = 0; i < ShowCount; ++i) {
        if (ShowRows[i].active == 1 && ShowRows[i].switchID == body[9]) {
            e.acts = true;
            e.row = i;
            break;
        }
    }
    e.toSubnet = body[1];
    e.toDevice = body[2];
    e.number = body[9];
    e.status = body[10];
    return e;
}

void CheckReply(const Expected& e) {
    if (!e.acts) {
        Check(Broadcasts.empty());
        return;
    }
    Check(Broadcasts.size() == 1);
    const std::vector<uint8_t>& d = Broadcasts[0];
    Check(d.size() == 29);
    Check(d[0] == 127 && d[1] == 0 && d[2] == 0 && d[3] == 1);
    Check(std::memcmp(d.data() + 4, "ZEVIZARERE", 10) == 0);
    const auto reply = pblAcceptDatagram(d);
    Check(reply.has_value());
    const std::vector<uint8_t>& r = *reply;
    Check(r.size() == 13 && r[0] == 13);
    Check(r[1] == OwnSubnet && r[2] == OwnDevice && r[3] == 0xFF && r[4] == 0xFD);
    Check(r[5] == 0xE0 && r[6] == 0x1D);
    Check(r[7] == e.toSubnet && r[8] == e.toDevice);
    Check(r[9] == e.number && r[10] == e.status);
}

void CheckEffects(const Expected& e, const Start& s) {
    const int startRow = s.playingRow;
    if (!e.acts) {
        Check(Player->setURLs == 0 && Player->plays == 0 && Player->stops == 0);
        Check(SelectedRow() == startRow);
        Check(Loaded.empty());
        return;
    }
    const ShowRow& show = ShowRows[e.row];
    if (e.status == 0) {
        Check(Player->stops == 1 && Player->plays == 0 && Player->setURLs == 0);
        Check(Player->state == IPlayer::psStopped);
        Check(SelectedRow() == startRow);
        return;
    }
    Check(Player->stops == 0);
    Check(SelectedRow() == e.row);
    if (startRow >= 0 && ShowRows[startRow].id == show.id) {
        // The playing show itself: resumed, nothing loaded.
        Check(Player->plays == 1 && Player->setURLs == 0 && Loaded.empty());
        Check(CurrentShowIndex == startRow);
    } else {
        Check(CurrentShowIndex == e.row);
        const bool sameMedia = startRow >= 0 && QString(ShowRows[startRow].url) == show.url;
        if (sameMedia) {
            // Shared media: the current show changes, nothing is loaded.
            Check(Loaded.empty() && Player->setURLs == 0);
            Check(PlayingShowID == ShowRows[startRow].id);
        } else {
            Check(Loaded.size() == 1 && Loaded[0] == QString::number(show.id));
            Check(Player->setURLs == 1 && PlayingShowID == show.id);
        }
        Check(Player->plays >= 1);
    }
    Check(Player->state == IPlayer::psPlaying);
    Check(Player->url == show.url);
}

} // namespace

// ---- What the handler reaches beyond the receive path -------------------------------

std::array<uint8_t, 4> LocalIPOctets{127, 0, 0, 1};
QString LocalIPString;

void ShowBusError(const std::string&) {
    // Replying to a received command must never end in an error box.
    __builtin_trap();
}

void pblBroadcastSend(const uint8_t* data, int len) {
    Check(data != nullptr && len > 0 && len <= UDPSendBufferSize);
    Broadcasts.emplace_back(data, data + len);
}

int pblRecvFrom(uint8_t*, int, QString*) {
    // The target hands datagrams over itself; the socket is never polled.
    __builtin_trap();
}

void LoadShowTimePoints(const QString& showID) {
    Loaded.push_back(showID);
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(*argc, *argv);
    SetUpOnce();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 2000)
        return 0;
    const Start start = StartFrom(data, size);
    Arrange(start);

    if (size > static_cast<size_t>(UDPReceiveBufferSize)) {
        // The receive call refuses such a datagram; the rules refuse it as well.
        Check(!pblAcceptDatagram(std::vector<uint8_t>(data, data + size)));
        return 0;
    }
    // As the receive step holds it: in its zero-filled buffer.
    std::array<uint8_t, UDPReceiveBufferSize> buffer{};
    if (size > 0)
        std::memcpy(buffer.data(), data, size);
    const auto body = pblAcceptDatagram(std::span<const uint8_t>(buffer.data(), size));
    if (!body) {
        Check(Broadcasts.empty());
        return 0;
    }

    // Exactly sized, so that any read past the body shows under AddressSanitizer.
    const std::vector<uint8_t> exact(*body);
    if (start.cutTo >= 0) {
        const std::vector<uint8_t> cut(exact.begin(),
                                       exact.begin() + std::min<size_t>(start.cutTo, exact.size()));
        HandleUniversalSwitch(cut.data(), cut.size(), List, Player);
        Check(Broadcasts.empty());
        Check(Player->setURLs == 0 && Player->plays == 0 && Player->stops == 0);
        Check(SelectedRow() == start.playingRow);
    }

    const Expected expected = Model(exact, start.closing);
    HandleUniversalSwitch(exact.data(), exact.size(), List, Player);
    CheckReply(expected);
    CheckEffects(expected, start);
    AppClosing = false;
    return 0;
}
