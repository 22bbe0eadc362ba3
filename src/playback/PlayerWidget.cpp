#include "playback/PlayerWidget.h"

#include <QApplication>
#include <QAudio>
#include <QAudioOutput>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMediaPlayer>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QVideoWidget>
#include <QWindow>

#include <algorithm>
#include <limits>

namespace {

// A show's media is normally a file path; anything with a scheme and "//" is
// taken as an address as it stands.
QUrl MediaUrl(const QString& text) {
    const QUrl url(text);
    if (text.contains(QLatin1String("://")) && url.isValid() && url.scheme().size() > 1)
        return url;
    return QUrl::fromLocalFile(QFileInfo(text).absoluteFilePath());
}

QString FormatTime(qint64 ms) {
    const qint64 seconds = qMax<qint64>(0, ms) / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

enum class Glyph { Play, Pause, Stop, Speaker, SpeakerMuted, FullScreen };

// The transport bar draws its own light glyphs: the style's media icons are
// dark and vanish on the control-room background.
QIcon MakeIcon(Glyph glyph) {
    const int size = 32;
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(0xe6, 0xe6, 0xe6);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    switch (glyph) {
    case Glyph::Play: {
        QPainterPath path;
        path.moveTo(10, 7);
        path.lineTo(25, 16);
        path.lineTo(10, 25);
        path.closeSubpath();
        p.drawPath(path);
        break;
    }
    case Glyph::Pause:
        p.drawRect(9, 7, 5, 18);
        p.drawRect(18, 7, 5, 18);
        break;
    case Glyph::Stop:
        p.drawRect(9, 9, 14, 14);
        break;
    case Glyph::Speaker:
    case Glyph::SpeakerMuted: {
        QPainterPath path;
        path.moveTo(5, 12);
        path.lineTo(10, 12);
        path.lineTo(16, 6);
        path.lineTo(16, 26);
        path.lineTo(10, 20);
        path.lineTo(5, 20);
        path.closeSubpath();
        p.drawPath(path);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(ink, 2, Qt::SolidLine, Qt::RoundCap));
        if (glyph == Glyph::Speaker) {
            p.drawArc(QRectF(14, 10, 8, 12), -60 * 16, 120 * 16);
            p.drawArc(QRectF(14, 6, 14, 20), -60 * 16, 120 * 16);
        } else {
            p.drawLine(20, 12, 27, 20);
            p.drawLine(27, 12, 20, 20);
        }
        break;
    }
    case Glyph::FullScreen:
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(ink, 2.5, Qt::SolidLine, Qt::SquareCap));
        p.drawPolyline(QPolygonF({{6, 12}, {6, 6}, {12, 6}}));
        p.drawPolyline(QPolygonF({{20, 6}, {26, 6}, {26, 12}}));
        p.drawPolyline(QPolygonF({{26, 20}, {26, 26}, {20, 26}}));
        p.drawPolyline(QPolygonF({{12, 26}, {6, 26}, {6, 20}}));
        break;
    }
    return QIcon(pixmap);
}

const char* const kStyleSheet = R"(
#PlayerWidget { background: #101214; }
#panTransport { background: #1a1d21; border-top: 1px solid #2b3036; }
#lblTime { color: #d7dbe0; padding: 0 6px; }
QToolButton { background: #262a30; border: 1px solid #343a42; border-radius: 4px; padding: 3px; }
QToolButton:hover { background: #323841; }
QToolButton:pressed, QToolButton:checked { background: #1f5fa8; border-color: #2f7fd8; }
QToolButton:disabled { background: #1c1f23; border-color: #24282d; }
QSlider::groove:horizontal { height: 4px; background: #3a4048; border-radius: 2px; }
QSlider::sub-page:horizontal { background: #2f7fd8; border-radius: 2px; }
QSlider::handle:horizontal { background: #e6e6e6; width: 12px; margin: -5px 0; border-radius: 6px; }
QSlider::handle:horizontal:disabled { background: #5a6068; }
)";

// Loading a local file takes a fraction of a second; long before this, a
// load that will finish has finished.
constexpr int kLoadWatchMs = 2000;
constexpr int kMaxLoadKicks = 3;

} // namespace

void TPlayerWidget::SelectMediaBackend() {
    // The FFmpeg backend of Qt 6.4 stalls on machines without an audio device.
    if (qgetenv("QT_MEDIA_BACKEND") != "gstreamer")
        qputenv("QT_MEDIA_BACKEND", "gstreamer");
}

TPlayerWidget::TPlayerWidget(QObject* parent) : IPlayer(parent) {
    SelectMediaBackend();
    m_audio = new QAudioOutput(this);
    m_loadWatch = new QTimer(this);
    m_loadWatch->setSingleShot(true);
    m_loadWatch->setInterval(kLoadWatchMs);
    connect(m_loadWatch, &QTimer::timeout, this, &TPlayerWidget::CheckLoading);
    SetVolume(m_volume);
    BuildWidget();
    CreateBackend();
    qApp->installEventFilter(this);
    UpdateTransport();
}

TPlayerWidget::~TPlayerWidget() {
    qApp->removeEventFilter(this);
    // Nothing the backend says while it winds down may reach this half-destroyed object.
    disconnect(m_player, nullptr, this, nullptr);
    delete m_player;
    m_player = nullptr;
    delete m_root.data();
}

void TPlayerWidget::BuildWidget() {
    m_root = new QWidget;
    m_root->setObjectName(QStringLiteral("PlayerWidget"));
    m_root->setAttribute(Qt::WA_StyledBackground);
    m_root->setStyleSheet(QString::fromLatin1(kStyleSheet));
    m_root->setWindowTitle(tr("Player"));

    m_video = new QVideoWidget;
    m_video->setObjectName(QStringLiteral("vidPlayer"));
    m_video->setAttribute(Qt::WA_StyledBackground);
    m_video->setStyleSheet(QStringLiteral("background: black;"));
    m_video->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    // A destroyed host takes the picture with it; the backend must let go of it.
    connect(m_video, &QObject::destroyed, this, [this] {
        if (m_player)
            m_player->setVideoOutput(nullptr);
    });

    auto* bar = new QWidget;
    bar->setObjectName(QStringLiteral("panTransport"));
    bar->setAttribute(Qt::WA_StyledBackground);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(6, 4, 6, 4);
    row->setSpacing(4);

    auto makeButton = [bar](const char* name, Glyph glyph, const QString& tip) {
        auto* button = new QToolButton(bar);
        button->setObjectName(QLatin1String(name));
        button->setIcon(MakeIcon(glyph));
        button->setIconSize(QSize(18, 18));
        button->setToolTip(tip);
        button->setAccessibleName(tip);
        button->setFocusPolicy(Qt::NoFocus);
        return button;
    };
    m_play = makeButton("bitbtnPlay", Glyph::Play, tr("Play"));
    m_pause = makeButton("bitbtnPause", Glyph::Pause, tr("Pause"));
    m_stop = makeButton("bitbtnStop", Glyph::Stop, tr("Stop"));
    m_mute = makeButton("bitbtnMute", Glyph::Speaker, tr("Mute"));
    m_mute->setCheckable(true);
    m_fullScreen = makeButton("bitbtnFullScreen", Glyph::FullScreen, tr("Full screen"));
    m_fullScreen->setCheckable(true);

    m_seek = new QSlider(Qt::Horizontal, bar);
    m_seek->setObjectName(QStringLiteral("trkSeek"));
    m_seek->setRange(0, 0);
    m_seek->setSingleStep(1000);
    m_seek->setPageStep(10000);
    m_seek->setToolTip(tr("Position"));

    m_time = new QLabel(FormatTime(0) + QStringLiteral(" / ") + FormatTime(0), bar);
    m_time->setObjectName(QStringLiteral("lblTime"));
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    m_time->setFont(mono);

    m_volumeSlider = new QSlider(Qt::Horizontal, bar);
    m_volumeSlider->setObjectName(QStringLiteral("trkVolume"));
    m_volumeSlider->setRange(0, 100);
    m_volumeSlider->setValue(m_volume);
    m_volumeSlider->setFixedWidth(90);
    m_volumeSlider->setToolTip(tr("Volume"));

    row->addWidget(m_play);
    row->addWidget(m_pause);
    row->addWidget(m_stop);
    row->addWidget(m_seek, 1);
    row->addWidget(m_time);
    row->addWidget(m_mute);
    row->addWidget(m_volumeSlider);
    row->addWidget(m_fullScreen);

    auto* column = new QVBoxLayout(m_root);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(m_video, 1);
    column->addWidget(bar);

    connect(m_play, &QToolButton::clicked, this, &TPlayerWidget::Play);
    connect(m_pause, &QToolButton::clicked, this, &TPlayerWidget::Pause);
    connect(m_stop, &QToolButton::clicked, this, &TPlayerWidget::Stop);
    connect(m_mute, &QToolButton::toggled, this, &TPlayerWidget::SetMute);
    connect(m_fullScreen, &QToolButton::clicked, this, [this] { SetFullScreen(!FullScreen()); });
    connect(m_volumeSlider, &QSlider::valueChanged, this, &TPlayerWidget::SetVolume);
    // While the knob is dragged only the time follows it; the media seeks on release.
    connect(m_seek, &QSlider::sliderMoved, this, [this](int ms) {
        m_time->setText(FormatTime(ms) + " / " + FormatTime(m_seek->maximum()));
    });
    connect(m_seek, &QSlider::sliderReleased, this,
            [this] { SetCurrentPosition(m_seek->value() / 1000.0); });
    connect(m_seek, &QSlider::valueChanged, this, [this](int ms) {
        if (!m_updatingSeek && !m_seek->isSliderDown())
            SetCurrentPosition(ms / 1000.0);
    });
}

void TPlayerWidget::CreateBackend() {
    m_player = new QMediaPlayer(this);
    m_player->setAudioOutput(m_audio);
    if (m_video)
        m_player->setVideoOutput(m_video.data());

    // Queued: Qt announces the end of the media as Stopped first and End of
    // Media just after; by the time this runs both are known. What a replaced
    // backend still had in the queue is dropped.
    const int generation = ++m_generation;
    connect(
        m_player, &QMediaPlayer::playbackStateChanged, this,
        [this, generation] {
            if (generation == m_generation)
                Evaluate(true);
        },
        Qt::QueuedConnection);
    connect(
        m_player, &QMediaPlayer::mediaStatusChanged, this,
        [this, generation] {
            if (generation != m_generation)
                return;
            if (m_player->mediaStatus() == QMediaPlayer::InvalidMedia)
                Fail();
            else
                Evaluate(true);
        },
        Qt::QueuedConnection);
    connect(
        m_player, &QMediaPlayer::errorOccurred, this,
        [this, generation] {
            if (generation == m_generation)
                Fail();
        },
        Qt::QueuedConnection);
    connect(m_player, &QMediaPlayer::positionChanged, this, &TPlayerWidget::UpdateTime);
    connect(m_player, &QMediaPlayer::durationChanged, this, &TPlayerWidget::UpdateDuration);
}

// A Qt media player that has failed stays at Playing, and every later stop,
// play or new source waits a second on its dead pipeline before it returns.
// A fresh one starts at once.
void TPlayerWidget::ReplaceBackend() {
    m_replacePending = false;
    if (!m_failed)
        return;
    disconnect(m_player, nullptr, this, nullptr);
    delete m_player;
    CreateBackend();
    UpdateDuration(0);
    UpdateTime(0);
}

void TPlayerWidget::Fail() {
    if (m_failed)
        return;
    m_failed = true;
    Evaluate(false);
    if (!m_replacePending) {
        m_replacePending = true;
        QMetaObject::invokeMethod(this, &TPlayerWidget::ReplaceBackend, Qt::QueuedConnection);
    }
}

void TPlayerWidget::LoadAndPlay() {
    m_failed = false;
    m_loadKicks = 0;
    m_player->setSource(MediaUrl(m_url));
    m_player->play();
}

int TPlayerWidget::ComputeState() const {
    if (m_failed)
        return psStopped;
    switch (m_player->playbackState()) {
    case QMediaPlayer::StoppedState:
        return psStopped;
    case QMediaPlayer::PausedState:
        return psPaused;
    case QMediaPlayer::PlayingState:
        switch (m_player->mediaStatus()) {
        case QMediaPlayer::BufferedMedia:
            return psPlaying;
        case QMediaPlayer::InvalidMedia:
            return psStopped;
        default:
            return psTransitioning;
        }
    }
    return psStopped;
}

void TPlayerWidget::Evaluate(bool mayReportEnd) {
    const int state = ComputeState();
    if (state == m_state)
        return;
    if (mayReportEnd && state == psStopped && !m_failed &&
        m_player->mediaStatus() == QMediaPlayer::EndOfMedia &&
        (m_state == psPlaying || m_state == psTransitioning))
        SetState(psMediaEnded);
    SetState(state);
}

void TPlayerWidget::SetState(int state) {
    if (state == m_state)
        return;
    m_state = state;
    if (state == psTransitioning)
        m_loadWatch->start();
    else
        m_loadWatch->stop();
    UpdateTransport();
    // Listeners react to a change by calling back into the player (sending
    // lists, switching to full screen); they must never run inside it.
    QMetaObject::invokeMethod(
        this, [this, state] { emit PlayStateChange(state); }, Qt::QueuedConnection);
}

// The transport bar lives and dies with the view, which a host may delete first.
void TPlayerWidget::UpdateTransport() {
    if (!m_root)
        return;
    const bool hasMedia = !m_url.isEmpty();
    m_play->setEnabled(hasMedia && m_state != psPlaying);
    m_pause->setEnabled(m_state == psPlaying || m_state == psTransitioning);
    m_stop->setEnabled(m_state != psStopped);
    m_seek->setEnabled(hasMedia && !m_failed);
}

void TPlayerWidget::UpdateTime(qint64 positionMs) {
    if (!m_root)
        return;
    if (!m_seek->isSliderDown()) {
        m_updatingSeek = true;
        m_seek->setValue(int(qMin<qint64>(positionMs, m_seek->maximum())));
        m_updatingSeek = false;
    }
    m_time->setText(FormatTime(positionMs) + QStringLiteral(" / ") +
                    FormatTime(m_player ? m_player->duration() : 0));
}

void TPlayerWidget::UpdateDuration(qint64 durationMs) {
    if (!m_root)
        return;
    m_updatingSeek = true;
    m_seek->setRange(0, int(std::clamp<qint64>(durationMs, 0, std::numeric_limits<int>::max())));
    m_updatingSeek = false;
    UpdateTime(m_player ? m_player->position() : 0);
}

// Qt's video renderer asks the GUI thread to start it and gives up after a
// second; when the GUI thread is busy just then (a slow first paint, a long
// command list), the media stays "loaded" for good, never playing and never
// ending. Pausing and playing again starts the renderer afresh.
void TPlayerWidget::CheckLoading() {
    if (m_state != psTransitioning || m_failed)
        return;
    if (m_player->playbackState() == QMediaPlayer::PlayingState &&
        m_player->mediaStatus() == QMediaPlayer::LoadedMedia && m_loadKicks < kMaxLoadKicks) {
        ++m_loadKicks;
        m_player->pause();
        m_player->play();
        Evaluate(true);
    }
    if (m_state == psTransitioning)
        m_loadWatch->start();
}

QString TPlayerWidget::URL() const {
    return m_url;
}

void TPlayerWidget::SetURL(const QString& url) {
    if (url == m_url)
        return;
    m_url = url;
    if (m_failed && m_replacePending)
        ReplaceBackend();
    m_failed = false;
    if (url.isEmpty()) {
        m_player->setSource(QUrl());
        Evaluate(false);
    } else {
        // A new media starts by itself, as the show list expects.
        LoadAndPlay();
        Evaluate(true);
    }
    UpdateTransport();
}

int TPlayerWidget::PlayState() const {
    return m_state;
}

void TPlayerWidget::Play() {
    if (m_url.isEmpty())
        return;
    if (m_failed || m_player->source().isEmpty()) {
        // Pressing play again after a failure tries the media afresh: a file
        // that was missing may be there now.
        if (m_replacePending)
            ReplaceBackend();
        LoadAndPlay();
    } else {
        m_player->play();
    }
    Evaluate(true);
}

void TPlayerWidget::Pause() {
    // Pausing a stopped player would load and show the media; it has nothing to pause.
    if (m_failed || m_player->playbackState() != QMediaPlayer::PlayingState)
        return;
    m_player->pause();
    Evaluate(true);
}

void TPlayerWidget::Stop() {
    if (!m_failed)
        m_player->stop();
    Evaluate(false);
}

double TPlayerWidget::CurrentPosition() const {
    if (m_failed)
        return 0.0;
    return m_player->position() / 1000.0;
}

void TPlayerWidget::SetCurrentPosition(double seconds) {
    if (m_failed || m_url.isEmpty())
        return;
    if (!(seconds > 0.0)) // also NaN
        seconds = 0.0;
    m_player->setPosition(qint64(qMin(seconds, 1e9) * 1000.0));
}

int TPlayerWidget::Volume() const {
    return m_volume;
}

void TPlayerWidget::SetVolume(int volume) {
    m_volume = qBound(0, volume, 100);
    // The slider is linear to the ear; the output wants linear amplitude.
    m_audio->setVolume(QAudio::convertVolume(m_volume / 100.0f, QAudio::LogarithmicVolumeScale,
                                             QAudio::LinearVolumeScale));
    if (m_root && m_volumeSlider && m_volumeSlider->value() != m_volume) {
        const QSignalBlocker block(m_volumeSlider);
        m_volumeSlider->setValue(m_volume);
    }
}

bool TPlayerWidget::Mute() const {
    return m_audio->isMuted();
}

void TPlayerWidget::SetMute(bool mute) {
    m_audio->setMuted(mute);
    if (!m_root)
        return;
    const QSignalBlocker block(m_mute);
    m_mute->setChecked(mute);
    m_mute->setIcon(MakeIcon(mute ? Glyph::SpeakerMuted : Glyph::Speaker));
}

bool TPlayerWidget::FullScreen() const {
    return m_root && m_root->isFullScreen();
}

void TPlayerWidget::SetFullScreen(bool on) {
    if (!m_root || on == FullScreen())
        return;
    m_switchingFullScreen = true;
    if (on) {
        // A player inside another window goes full screen as a window of its
        // own and returns to its place afterwards.
        m_fullScreenEmbedded = !m_root->isWindow();
        if (m_fullScreenEmbedded)
            m_root->setWindowFlag(Qt::Window, true);
        else
            m_normalWindowState = m_root->windowState();
        // Without a window manager the full-screen state is only a wish:
        // cover the screen explicitly as well.
        if (QScreen* screen = m_root->screen())
            m_root->setGeometry(screen->geometry());
        m_root->showFullScreen();
        m_root->raise();
        m_root->activateWindow();
    } else if (m_fullScreenEmbedded) {
        LeaveFullScreenWindow();
    } else {
        m_root->setWindowState(m_normalWindowState & ~Qt::WindowFullScreen);
        m_root->show();
    }
    m_switchingFullScreen = false;
    const QSignalBlocker block(m_fullScreen);
    m_fullScreen->setChecked(FullScreen());
}

void TPlayerWidget::LeaveFullScreenWindow() {
    m_fullScreenEmbedded = false;
    m_root->setWindowState(m_root->windowState() & ~Qt::WindowFullScreen);
    m_root->setWindowFlag(Qt::Window, false);
    m_root->show();
    if (QWidget* host = m_root->parentWidget()) {
        if (host->layout())
            host->layout()->activate();
    }
}

QWidget* TPlayerWidget::Widget() {
    return m_root.data();
}

bool TPlayerWidget::IsInPlayer(QObject* watched) const {
    auto* widget = qobject_cast<QWidget*>(watched);
    return widget && m_root && (widget == m_root || m_root->isAncestorOf(widget));
}

// Qt draws the picture in a window of its own inside the video widget, so
// clicks on the picture arrive at that window rather than at any widget.
bool TPlayerWidget::IsOnVideo(QObject* watched, QEvent* event) const {
    if (!m_video || !m_video->isVisible())
        return false;
    if (auto* widget = qobject_cast<QWidget*>(watched))
        return widget == m_video || m_video->isAncestorOf(widget);
    auto* window = qobject_cast<QWindow*>(watched);
    if (!window || qstrcmp(window->metaObject()->className(), "QVideoWindow") != 0)
        return false;
    const QPoint global = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
    return QRect(m_video->mapToGlobal(QPoint(0, 0)), m_video->size()).contains(global);
}

bool TPlayerWidget::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonDblClick:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
            IsOnVideo(watched, event)) {
            SetFullScreen(!FullScreen());
            return true;
        }
        break;
    case QEvent::KeyPress:
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && FullScreen() &&
            (IsInPlayer(watched) ||
             qstrcmp(watched->metaObject()->className(), "QVideoWindow") == 0)) {
            SetFullScreen(false);
            return true;
        }
        break;
    case QEvent::WindowStateChange:
        // Full screen ended by the window manager rather than by this player.
        if (watched == m_root && !m_switchingFullScreen) {
            if (m_fullScreenEmbedded && !m_root->isFullScreen())
                LeaveFullScreenWindow();
            const QSignalBlocker block(m_fullScreen);
            m_fullScreen->setChecked(FullScreen());
        }
        break;
    default:
        break;
    }
    return IPlayer::eventFilter(watched, event);
}
