#include "support/TestMedia.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <gtest/gtest.h>

QString MakeTestMedia(const QString& dir, int seconds, const QString& ext) {
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty()) {
        ADD_FAILURE() << "ffmpeg is not installed; scripts/install-deps.sh installs it. "
                         "It makes the media files this test plays.";
        return {};
    }
    const QString path = QDir(dir).filePath(QStringLiteral("media-%1s.%2").arg(seconds).arg(ext));
    const QString duration = QString::number(seconds);
    const bool video = ext == QLatin1String("webm") || ext == QLatin1String("mp4");

    QStringList args{"-hide_banner", "-loglevel", "error", "-nostdin", "-y"};
    if (video)
        args << "-f"
             << "lavfi"
             << "-i"
             << "testsrc=size=160x120:rate=15";
    args << "-f"
         << "lavfi"
         << "-i"
         << "sine=frequency=440:sample_rate=44100";
    args << "-t" << duration;
    if (ext == QLatin1String("webm"))
        args << "-c:v"
             << "libvpx"
             << "-b:v"
             << "100k"
             << "-c:a"
             << "libvorbis";
    else if (ext == QLatin1String("mp4"))
        args << "-c:v"
             << "libx264"
             << "-preset"
             << "ultrafast"
             << "-pix_fmt"
             << "yuv420p"
             << "-c:a"
             << "aac";
    else if (ext == QLatin1String("ogg"))
        args << "-c:a"
             << "libvorbis";
    args << path;

    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(ffmpeg, args);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished(5000);
        ADD_FAILURE() << "ffmpeg did not finish making " << path.toStdString() << ": "
                      << process.errorString().toStdString();
        return {};
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 ||
        QFileInfo(path).size() == 0) {
        ADD_FAILURE() << "ffmpeg could not make " << path.toStdString() << ": "
                      << process.readAll().toStdString();
        return {};
    }
    return path;
}
