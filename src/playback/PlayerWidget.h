#pragma once
// The embedded media player: Qt Multimedia on the GStreamer backend behind the
// player interface, with a video area and a transport bar of its own.
//
// Qt Multimedia reports states that the rest of the program cannot use as
// they are, so this class keeps its own play state in the player's numbering:
// - play() says Playing before anything is loaded: Transitioning until the
//   media is buffered, then Playing;
// - a failed or unplayable media leaves Qt at Playing for good: Stopped, once;
// - the end of the media is Media Ended, then Stopped;
// - a load that Qt leaves hanging is nudged on (see CheckLoading).
// Every change is reported once, queued on the GUI thread.
//
// Object names of the transport bar, for tests and style sheets: bitbtnPlay,
// bitbtnPause, bitbtnStop, trkSeek, lblTime, trkVolume, bitbtnMute,
// bitbtnFullScreen; the video area is vidPlayer.
#include "platform/Player.h"

#include <QPointer>

class QAudioOutput;
class QLabel;
class QMediaPlayer;
class QSlider;
class QTimer;
class QToolButton;
class QVideoWidget;

class TPlayerWidget : public IPlayer {
    Q_OBJECT
  public:
    explicit TPlayerWidget(QObject* parent = nullptr);
    ~TPlayerWidget() override;

    // Makes Qt Multimedia use GStreamer. Must run before the first media
    // object of the process exists; the constructor calls it too.
    static void SelectMediaBackend();

    QString URL() const override;
    void SetURL(const QString& url) override;
    int PlayState() const override;
    void Play() override;
    void Pause() override;
    void Stop() override;
    double CurrentPosition() const override;
    void SetCurrentPosition(double seconds) override;
    int Volume() const override;
    void SetVolume(int volume) override;
    bool Mute() const override;
    void SetMute(bool mute) override;
    bool FullScreen() const override;
    void SetFullScreen(bool on) override;
    // Owned by the player; the host may embed it in a layout. Deleting the
    // host first is fine: the player then carries on without a picture.
    QWidget* Widget() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildWidget();
    void CreateBackend();
    void ReplaceBackend();
    void LoadAndPlay();
    void Fail();
    void Evaluate(bool mayReportEnd);
    int ComputeState() const;
    void SetState(int state);
    void UpdateTransport();
    void UpdateTime(qint64 positionMs);
    void UpdateDuration(qint64 durationMs);
    void CheckLoading();
    void LeaveFullScreenWindow();
    bool IsOnVideo(QObject* watched, QEvent* event) const;
    bool IsInPlayer(QObject* watched) const;

    QMediaPlayer* m_player = nullptr;
    QAudioOutput* m_audio = nullptr;
    QPointer<QWidget> m_root;
    QPointer<QVideoWidget> m_video;
    QToolButton* m_play = nullptr;
    QToolButton* m_pause = nullptr;
    QToolButton* m_stop = nullptr;
    QToolButton* m_mute = nullptr;
    QToolButton* m_fullScreen = nullptr;
    QSlider* m_seek = nullptr;
    QSlider* m_volumeSlider = nullptr;
    QLabel* m_time = nullptr;
    // Runs only while Transitioning: notices a load that Qt never finishes.
    QTimer* m_loadWatch = nullptr;
    int m_loadKicks = 0;

    QString m_url;
    int m_state = psStopped;
    int m_volume = 50;
    bool m_failed = false;
    int m_generation = 0;
    bool m_replacePending = false;
    bool m_updatingSeek = false;
    // Full screen of a widget that normally sits inside another window.
    bool m_fullScreenEmbedded = false;
    bool m_switchingFullScreen = false;
    Qt::WindowStates m_normalWindowState;
};
