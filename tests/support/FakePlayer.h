#pragma once
// A scripted player for suites that drive the program rather than the media.
// It behaves like the real one where the program can see it: setting a new
// URL reports Transitioning at once and Playing a moment later (unless
// autoStart is off), play/pause/stop change the state, every change is
// reported once through PlayStateChange, queued, and setting the URL it holds
// already changes nothing. It also logs what the program asked of it.
#include "platform/Player.h"

#include <QPointer>
#include <QStringList>

class FakePlayer : public IPlayer {
    Q_OBJECT
  public:
    explicit FakePlayer(QObject* parent = nullptr);
    ~FakePlayer() override;

    // Whether a new, non-empty URL starts playing by itself (the real player does).
    bool autoStart = true;
    // What the program asked, in order: "SetURL:<url>", "Play", "Pause",
    // "Stop", "SetCurrentPosition:<seconds>", "SetVolume:<v>", "SetMute:<0|1>",
    // "SetFullScreen:<0|1>". Reads are not logged, nor the Simulate* calls.
    QStringList calls;

    // As if the user pressed a button on the player or the media did
    // something by itself (for example 8, Media Ended): the state changes and
    // is reported like any other change.
    void SimulateStateChange(int newState);
    // As if the media had played to this point.
    void SimulatePosition(double seconds) { position_ = seconds; }
    // As if the user left (or entered) full screen on the player itself.
    void SimulateFullScreen(bool on) { fullScreen_ = on; }

    QString URL() const override { return url_; }
    void SetURL(const QString& url) override;
    int PlayState() const override { return state_; }
    void Play() override;
    void Pause() override;
    void Stop() override;
    double CurrentPosition() const override { return position_; }
    void SetCurrentPosition(double seconds) override;
    int Volume() const override { return volume_; }
    void SetVolume(int volume) override;
    bool Mute() const override { return mute_; }
    void SetMute(bool mute) override;
    bool FullScreen() const override { return fullScreen_; }
    void SetFullScreen(bool on) override;
    // A plain placeholder, so that hosts can embed it like the real one.
    QWidget* Widget() override;

  private:
    void ChangeState(int state);

    QString url_;
    int state_ = psStopped;
    double position_ = 0.0;
    int volume_ = 50;
    bool mute_ = false;
    bool fullScreen_ = false;
    // Tells a pending "media loaded" step whether its media is still the current one.
    int loadToken_ = 0;
    QPointer<QWidget> widget_;
};
