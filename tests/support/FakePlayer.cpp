#include "support/FakePlayer.h"

#include <QWidget>

FakePlayer::FakePlayer(QObject* parent) : IPlayer(parent) {}

FakePlayer::~FakePlayer() {
    delete widget_.data();
}

void FakePlayer::ChangeState(int state) {
    if (state == state_)
        return;
    state_ = state;
    QMetaObject::invokeMethod(
        this, [this, state] { emit PlayStateChange(state); }, Qt::QueuedConnection);
}

void FakePlayer::SimulateStateChange(int newState) {
    ++loadToken_;
    ChangeState(newState);
}

void FakePlayer::SetURL(const QString& url) {
    calls << QStringLiteral("SetURL:") + url;
    if (url == url_)
        return;
    url_ = url;
    position_ = 0.0;
    const int token = ++loadToken_;
    if (url.isEmpty() || !autoStart) {
        ChangeState(psStopped);
        return;
    }
    ChangeState(psTransitioning);
    // The media "loads" on a later turn of the event loop, as real media do.
    QMetaObject::invokeMethod(
        this,
        [this, token] {
            if (token == loadToken_ && state_ == psTransitioning)
                ChangeState(psPlaying);
        },
        Qt::QueuedConnection);
}

void FakePlayer::Play() {
    calls << QStringLiteral("Play");
    if (url_.isEmpty())
        return;
    ++loadToken_;
    ChangeState(psPlaying);
}

void FakePlayer::Pause() {
    calls << QStringLiteral("Pause");
    if (state_ != psPlaying && state_ != psTransitioning)
        return;
    ++loadToken_;
    ChangeState(psPaused);
}

void FakePlayer::Stop() {
    calls << QStringLiteral("Stop");
    ++loadToken_;
    position_ = 0.0;
    ChangeState(psStopped);
}

void FakePlayer::SetCurrentPosition(double seconds) {
    calls << QStringLiteral("SetCurrentPosition:") + QString::number(seconds);
    position_ = seconds > 0.0 ? seconds : 0.0;
}

void FakePlayer::SetVolume(int volume) {
    calls << QStringLiteral("SetVolume:") + QString::number(volume);
    volume_ = qBound(0, volume, 100);
}

void FakePlayer::SetMute(bool mute) {
    calls << QStringLiteral("SetMute:") + QString::number(mute ? 1 : 0);
    mute_ = mute;
}

void FakePlayer::SetFullScreen(bool on) {
    calls << QStringLiteral("SetFullScreen:") + QString::number(on ? 1 : 0);
    fullScreen_ = on;
}

QWidget* FakePlayer::Widget() {
    if (!widget_) {
        widget_ = new QWidget;
        widget_->setObjectName(QStringLiteral("FakePlayerWidget"));
    }
    return widget_.data();
}
