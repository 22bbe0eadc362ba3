#include "app/MainCuelark.h"

#include "app/Settings_Address.h"
#include "bus/ReceiveSocket.h"
#include "bus/Socket.h"
#include "bus/ThreadUDPReceive.h"
#include "commands/Lookup.h"
#include "platform/Artwork.h"
#include "platform/Messages.h"
#include "platform/Modal.h"
#include "platform/Player.h"
#include "playback/PlayerStateLists.h"
#include "playback/PlayerWidget.h"
#include "playback/PublicVariable.h"
#include "playback/RunShow.h"
#include "playback/ShowModel.h"
#include "store/Database.h"
#include "store/Helpers.h"
#include "store/IniFile.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
QFont Font(const QString& family, int pixels, bool bold) {
    QFont f(family);
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

QLabel* TitleLabel(const QString& text, const QFont& font, const QColor& colour, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setStyleSheet(QString("color: %1; background: transparent;").arg(colour.name()));
    return label;
}

// A layout that fills its panel edge to edge.
template <typename Layout> Layout* Flush(QWidget* panel) {
    auto* layout = new Layout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return layout;
}

QWidget* Panel(QWidget* parent, const QString& name) {
    auto* panel = new QWidget(parent);
    panel->setObjectName(name);
    return panel;
}
} // namespace

TfrmMainCuelark::TfrmMainCuelark(IPlayer* player, QWidget* parent)
    : QMainWindow(parent), wmp(player) {
    setObjectName("frmMainCuelark");
    if (!wmp)
        wmp = new TPlayerWidget(this);
    else if (!wmp->parent())
        wmp->setParent(this);
    BuildComponents();
    FormCreate();
}

TfrmMainCuelark::~TfrmMainCuelark() {
    // Releasing, not exiting: the settings file is written by Exit only, so a
    // start that failed leaves it as the user wrote it.
    ShutDown(false);
    // The receive thread hands its steps to this window: it must be gone
    // before the window is. It looks at its stop request at least every
    // 100 ms, so this is short, and the event loop has already ended.
    if (ReceiveThread) {
        ReceiveThread->requestInterruption();
        ReceiveThread->wait();
    }
}

void TfrmMainCuelark::BuildComponents() {
    setWindowIcon(AppIcon());
    resize(1024, 700);

    auto* central = new QWidget(this);
    auto* row = Flush<QHBoxLayout>(central);
    Splitter1 = new QSplitter(Qt::Horizontal, central);
    Splitter1->setHandleWidth(2);
    Splitter1->setChildrenCollapsible(false);
    Splitter1->setStyleSheet("QSplitter::handle { background: rgb(64,128,128); }");
    row->addWidget(Splitter1);
    setCentralWidget(central);

    panLeft = Panel(Splitter1, "panLeft");
    panLeft->setMinimumWidth(650);
    auto* leftLayout = Flush<QVBoxLayout>(panLeft);
    if (QWidget* w = wmp->Widget())
        leftLayout->addWidget(w);
    connect(wmp, &IPlayer::PlayStateChange, this, &TfrmMainCuelark::wmpPlayStateChange,
            Qt::QueuedConnection);

    panRight = Panel(Splitter1, "panRight");
    auto* rightLayout = Flush<QVBoxLayout>(panRight);

    panLogo = Panel(panRight, "panLogo");
    panLogo->setFixedHeight(79);
    auto* logoLayout = Flush<QVBoxLayout>(panLogo);
    imgLogo = new QLabel(panLogo);
    imgLogo->setObjectName("imgLogo");
    imgLogo->setScaledContents(true);
    // The picture follows the panel; it must not widen the window.
    imgLogo->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    imgLogo->setMinimumSize(1, 1);
    imgLogo->setStyleSheet("background: black;");
    imgLogo->setCursor(Qt::PointingHandCursor);
    const QImage logo = LoadJpeg(pblAppPath("FormsDesignPosition/Logo.jpg"));
    if (!logo.isNull())
        imgLogo->setPixmap(QPixmap::fromImage(logo));
    logoLayout->addWidget(imgLogo);
    rightLayout->addWidget(panLogo);

    panList = Panel(panRight, "panList");
    auto* listLayout = Flush<QVBoxLayout>(panList);
    panTitle = Panel(panList, "panTitle");
    panTitle->setFixedHeight(22);
    panTitle->setAutoFillBackground(true);
    panTitle->setStyleSheet("#panTitle { background: black; }");
    auto* titleLayout = new QHBoxLayout(panTitle);
    titleLayout->setContentsMargins(6, 0, 6, 0);
    titleLayout->addWidget(
        TitleLabel("Show List", Font("Arial", 16, true), QColor(155, 155, 0), panTitle));
    titleLayout->addStretch(1);
    titleLayout->addWidget(
        TitleLabel("Total:", Font("Arial", 13, true), QColor(128, 128, 192), panTitle));
    lblTotal = TitleLabel("0", Font("Arial", 13, true), QColor(192, 192, 192), panTitle);
    lblTotal->setObjectName("lblTotal");
    titleLayout->addWidget(lblTotal);
    listLayout->addWidget(panTitle);

    lsvShow = new QTreeWidget(panList);
    lsvShow->setObjectName("lsvShow");
    lsvShow->setRootIsDecorated(false);
    lsvShow->setHeaderHidden(true);
    lsvShow->setSelectionMode(QAbstractItemView::SingleSelection);
    lsvShow->setSelectionBehavior(QAbstractItemView::SelectRows);
    lsvShow->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lsvShow->setFrameShape(QFrame::NoFrame);
    lsvShow->setFont(Font("Tahoma", 16, false));
    lsvShow->setCursor(Qt::PointingHandCursor);
    lsvShow->setStyleSheet("QTreeWidget { background: black; color: rgb(233,233,233); }"
                           "QTreeWidget::item:selected:!active { background: rgb(64,128,128); }");
    lsvShow->setContextMenuPolicy(Qt::CustomContextMenu);
    listLayout->addWidget(lsvShow, 1);
    rightLayout->addWidget(panList, 1);

    Splitter1->addWidget(panLeft);
    Splitter1->addWidget(panRight);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({650, 374});
    // The player panel keeps its width: the splitter cannot be dragged.
    Splitter1->handle(1)->setEnabled(false);

    const int widths[6] = {100, 200, 150, 100, 300, 50};
    for (int i = 0; i < 6; ++i) {
        statusPanels[i] = new QLabel(this);
        // At least the designed width; wider when the text needs it.
        statusPanels[i]->setMinimumWidth(widths[i]);
        statusBar()->addWidget(statusPanels[i]);
    }

    popmenuIcon = BuildMenu("Show Settings...");
    popmenuShowList = BuildMenu("Add/Edit Show...");
    connect(lsvShow, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { popmenuShowList->popup(lsvShow->mapToGlobal(pos)); });
    connect(lsvShow, &QTreeWidget::itemSelectionChanged, this, &TfrmMainCuelark::StartSelectedShow);
    connect(lsvShow, &QTreeWidget::itemDoubleClicked, this, &TfrmMainCuelark::StartSelectedShow);

    timerRunShow = new QTimer(this);
    connect(timerRunShow, &QTimer::timeout, this, &TfrmMainCuelark::timerRunShowTimer);
}

QMenu* TfrmMainCuelark::BuildMenu(const QString& firstCaption) {
    auto* menu = new QMenu(this);
    // The editor windows come with their own work; until then their commands
    // are shown but cannot be chosen.
    menu->addAction(firstCaption, this, &TfrmMainCuelark::ShowSettingsCommand)->setEnabled(false);
    menu->addAction("Play/Pause/Stop Settings...", this, &TfrmMainCuelark::PlaySetupCommand)
        ->setEnabled(false);
    menu->addSeparator();
    menu->addAction("Software Address and UDP Port Settings...", this,
                    &TfrmMainCuelark::AddressSettingsCommand);
    menu->addSeparator();
    menu->addAction("About...", this, &TfrmMainCuelark::AboutCommand)->setEnabled(false);
    menu->addSeparator();
    menu->addAction("Exit", this, &TfrmMainCuelark::ExitCommand);
    return menu;
}

void TfrmMainCuelark::FormCreate() {
    try {
        setWindowTitle("Cuelark V1.2");
        QApplication::setApplicationDisplayName(QString());
        QApplication::setApplicationName("Cuelark");
        PlayingShowID = -1;
        AppClosing = false;
        ShowDataChanged = false;
        CurrentShowIndex = -1;

        pblConnectDB(pblAppPath("Database/DB.sqlite"));
        OpenIniFiles();
        SetupShowListColumns();
        RefreshShowList(lsvShow, lblTotal);
        LoadUniversalSwitchStatuses();
        LoadCommandTypes();
        LoadSecurityAlarmTypes();
        LoadSecurityModes();
        LoadCurtainStatuses();
        LoadSystemSettings(wmp, this);

        if (pblInitUDP(LocalIPString, UDPPort, true)) {
            SetStatusText(0, ReadyPortText(), QString(), QString(), QString());
            StartReceiveThread();
            AddTrayIcon();
            // Without a window manager the maximised state is only a wish:
            // take the whole screen explicitly as well.
            if (QScreen* screen = QGuiApplication::primaryScreen())
                setGeometry(screen->availableGeometry());
            setWindowState(windowState() | Qt::WindowMaximized);
            timerRunShow->setInterval(100);
            timerRunShow->start();
            startedUp_ = true;
        } else {
            AppClosing = true;
            startedUp_ = false;
        }
    } catch (...) {
        // The window opens with what was done so far.
        startedUp_ = !AppClosing;
    }
}

void TfrmMainCuelark::SetStatusText(int kind, const QString& text, const QString& subnetText,
                                    const QString& deviceText, const QString& addressText) {
    switch (kind) {
    case 0:
        statusPanels[0]->setText(text);
        break;
    case 1:
        statusPanels[1]->setText("Subnet ID:" + subnetText + " " + "Device ID:" + deviceText);
        break;
    case 2:
        statusPanels[2]->setText("IP:" + addressText);
        break;
    default:
        break;
    }
}

QString TfrmMainCuelark::StatusText(int panel) const {
    return panel >= 0 && panel < 6 ? statusPanels[panel]->text() : QString();
}

void TfrmMainCuelark::SetupShowListColumns() {
    lsvShow->clear();
    lsvShow->setColumnCount(2);
    lsvShow->setHeaderLabels({QString(), QString()});
    // The name column keeps the width the list has now, before the window is
    // maximised; the ShowID column then shows to the right of the names.
    // Before the window is first shown Qt has not laid out its children, so
    // the list's width is taken from the window's: what the splitter leaves
    // beside the player panel.
    const int listWidth =
        qMax(lsvShow->width(), width() - panLeft->minimumWidth() - Splitter1->handleWidth());
    const float tenth = static_cast<float>(listWidth) * 0.1f;
    lsvShow->header()->setStretchLastSection(false);
    lsvShow->setColumnWidth(0, qRound(tenth * 10.0f));
    // Room for a ShowID of five digits.
    lsvShow->setColumnWidth(1, lsvShow->fontMetrics().horizontalAdvance("000000") + 12);
}

void TfrmMainCuelark::AddTrayIcon() {
    if (!trayIcon) {
        trayIcon = new QSystemTrayIcon(AppIcon(), this);
        trayIcon->setToolTip("Cuelark");
        connect(trayIcon, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    try {
                        if (reason == QSystemTrayIcon::Context) {
                            if (wmp && wmp->PlayState() == IPlayer::psPlaying)
                                wmp->Pause();
                            popmenuIcon->popup(QCursor::pos());
                        } else if (reason == QSystemTrayIcon::Trigger) {
                            BringToFront();
                        }
                    } catch (...) {
                    }
                });
    }
    trayIcon->show();
}

void TfrmMainCuelark::StartReceiveThread() {
    try {
        if (ReceiveThread)
            ReceiveThread->requestInterruption();
        auto* thread = new TthreadUDPReceive(this, [this] { ReceiveStep(lsvShow, wmp); });
        ReceiveThread = thread;
        thread->start(QThread::NormalPriority);
    } catch (...) {
    }
}

void TfrmMainCuelark::BringToFront() {
    if (isMinimized())
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
    show();
    raise();
    activateWindow();
}

void TfrmMainCuelark::closeEvent(QCloseEvent* event) {
    if (shutDown_) {
        event->accept();
        return;
    }
    // The close box only hides the program: shows keep playing and switches
    // keep being answered. Without a notification area there would be no way
    // back to a hidden window, so it is minimised instead.
    event->ignore();
    if (trayIcon && QSystemTrayIcon::isSystemTrayAvailable())
        hide();
    else
        showMinimized();
}

void TfrmMainCuelark::ShowSettingsCommand() {}
void TfrmMainCuelark::PlaySetupCommand() {}
void TfrmMainCuelark::AboutCommand() {}

void TfrmMainCuelark::AddressSettingsCommand() {
    // An exception must not cross the event loop (that would end the
    // program): its message is shown instead.
    try {
        DialogSaved = false;
        auto* dialog = new TfrmSettings_Address(this);
        ExecModal(dialog);
        if (DialogSaved) {
            ShowOwnAddress(this);
            SetStatusText(0, ReadyPortText(), QString(), QString(), QString());
        }
    } catch (const std::exception& e) {
        ShowMessageBox(MsgKind::Error, this, QString(), QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowMessageBox(MsgKind::Error, this, QString(), "Unexpected error");
    }
}

void TfrmMainCuelark::ExitCommand() {
    if (pblInquire(this, "Are you sure you want to exit?", QString()) != QMessageBox::Yes)
        return;
    ExitWithoutAsking();
}

void TfrmMainCuelark::ExitWithoutAsking() {
    ShutDown(true);
    close();
    QApplication::quit();
}

void TfrmMainCuelark::ShutDown(bool saveSettings) {
    if (shutDown_)
        return;
    shutDown_ = true;
    try {
        timerRunShow->stop();
        if (ReceiveThread)
            ReceiveThread->requestInterruption();
        AppClosing = true;
        if (saveSettings && wmp && SystemIniFile) {
            SystemIniFile->WriteString("IP", "MUTE", wmp->Mute() ? "1" : "0");
            SystemIniFile->WriteString("IP", "VOL", QString::number(wmp->Volume() & 0xFF));
        }
        if (trayIcon)
            trayIcon->hide();
        ShutDownPlayer();
    } catch (...) {
    }
}

void TfrmMainCuelark::ShutDownPlayer() {
    if (!wmp)
        return;
    switch (wmp->PlayState()) {
    case IPlayer::psPaused:
    case IPlayer::psPlaying:
    case IPlayer::psScanForward:
    case IPlayer::psScanReverse:
    case IPlayer::psWaiting:
    case IPlayer::psTransitioning:
        wmp->Stop();
        break;
    default:
        break;
    }
    IPlayer* player = wmp;
    wmp = nullptr;
    delete player;
}

void TfrmMainCuelark::StartSelectedShow() {
    if (wmp)
        ::StartSelectedShow(lsvShow, wmp, CurrentShowIndex);
}

void TfrmMainCuelark::timerRunShowTimer() {
    if (wmp)
        ::timerRunShowTimer(wmp, CurrentShowIndex);
}

void TfrmMainCuelark::wmpPlayStateChange(int newState) {
    if (wmp)
        ::wmpPlayStateChange(wmp, newState);
}
