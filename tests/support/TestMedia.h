#pragma once
// Short media files made with ffmpeg at test time: a moving test picture with
// a steady tone, small and quick to decode.
#include <QString>

// Writes <dir>/media-<seconds>s.<ext> afresh and returns its path. ext picks
// the format: "webm" (VP8/Vorbis), "mp4" (H.264/AAC), "ogg", "mp3" or "wav"
// (tone only). When ffmpeg is missing or fails, adds a test failure that says
// why and returns an empty string.
QString MakeTestMedia(const QString& dir, int seconds, const QString& ext = "webm");
