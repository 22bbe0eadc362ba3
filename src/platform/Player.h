#pragma once
// What the program uses of its embedded media player. The main window and the
// show editor hold the player through this interface; the real one wraps Qt
// Multimedia, tests use a scripted fake.
#include <QObject>
#include <QString>

class QWidget;

class IPlayer : public QObject {
    Q_OBJECT
public:
    // The player's own numbering of its play states.
    enum PlayStates {
        psUndefined = 0,
        psStopped = 1,
        psPaused = 2,
        psPlaying = 3,
        psScanForward = 4,
        psScanReverse = 5,
        psBuffering = 6,
        psWaiting = 7,
        psMediaEnded = 8,
        psTransitioning = 9,
        psReady = 10,
    };

    using QObject::QObject;
    ~IPlayer() override = default;

    virtual QString URL() const = 0;
    // Setting a new URL loads it and starts playing by itself; setting the URL
    // the player already holds changes nothing.
    virtual void SetURL(const QString& url) = 0;
    virtual int PlayState() const = 0;
    virtual void Play() = 0;
    virtual void Pause() = 0;
    virtual void Stop() = 0;
    // Seconds from the start of the media, fractional.
    virtual double CurrentPosition() const = 0;
    virtual void SetCurrentPosition(double seconds) = 0;
    virtual int Volume() const = 0;
    virtual void SetVolume(int volume) = 0;
    virtual bool Mute() const = 0;
    virtual void SetMute(bool mute) = 0;
    virtual bool FullScreen() const = 0;
    virtual void SetFullScreen(bool on) = 0;
    // The widget to embed, if the player has one.
    virtual QWidget* Widget() { return nullptr; }

signals:
    // Delivered queued on the GUI thread, also for changes the program itself asked for.
    void PlayStateChange(int newState);
};
