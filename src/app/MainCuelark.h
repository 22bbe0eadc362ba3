#pragma once
// The main window: the embedded player on the left, the show list on the
// right, the status bar, the tray icon with its menu, and the start-up and
// exit sequences.
#include "app/Settings.h"

#include <QMainWindow>
#include <QPointer>
#include <array>

class IPlayer;
class QLabel;
class QMenu;
class QSplitter;
class QSystemTrayIcon;
class QTimer;
class QTreeWidget;
class TthreadUDPReceive;

class TfrmMainCuelark : public QMainWindow, public TStatusSink {
    Q_OBJECT
  public:
    // player: the player to embed; the real Qt Multimedia player when null.
    explicit TfrmMainCuelark(IPlayer* player = nullptr, QWidget* parent = nullptr);
    ~TfrmMainCuelark() override;

    // False when the socket could not be opened: the program then ends
    // without showing this window.
    bool StartedUp() const { return startedUp_; }

    void SetStatusText(int kind, const QString& text, const QString& subnetText,
                       const QString& deviceText, const QString& addressText) override;
    QString StatusText(int panel) const;

    void SetupShowListColumns();
    void AddTrayIcon();
    void StartReceiveThread();
    void ShutDownPlayer();

    // Menu commands.
    void ShowSettingsCommand();
    void PlaySetupCommand();
    void AddressSettingsCommand();
    void AboutCommand();
    void ExitCommand();
    // Ends the program without asking (the session is ending, or SIGTERM).
    void ExitWithoutAsking();
    // Shows the window again, from the tray or from a second start.
    void BringToFront();

    void StartSelectedShow();
    void timerRunShowTimer();
    void wmpPlayStateChange(int newState);

    QWidget* panLeft = nullptr;
    IPlayer* wmp = nullptr;
    QSplitter* Splitter1 = nullptr;
    QWidget* panRight = nullptr;
    QWidget* panLogo = nullptr;
    QLabel* imgLogo = nullptr;
    QWidget* panList = nullptr;
    QWidget* panTitle = nullptr;
    QLabel* lblTotal = nullptr;
    QTreeWidget* lsvShow = nullptr;
    std::array<QLabel*, 6> statusPanels{};
    QMenu* popmenuIcon = nullptr;
    QMenu* popmenuShowList = nullptr;
    QTimer* timerRunShow = nullptr;
    QSystemTrayIcon* trayIcon = nullptr;

    QPointer<TthreadUDPReceive> ReceiveThread;
    int CurrentShowIndex = -1;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildComponents();
    QMenu* BuildMenu(const QString& firstCaption);
    void FormCreate();
    // Stops the timer, the receive thread and the player; with saveSettings
    // also writes the player's volume and mute (the exit sequence).
    void ShutDown(bool saveSettings);

    bool startedUp_ = false;
    bool shutDown_ = false;
};
