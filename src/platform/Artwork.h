#pragma once
// Pictures of the program: the logo strip read from a shipped JPEG, and the
// application icon.
#include <QIcon>
#include <QImage>
#include <QString>

// Decodes a JPEG file; a null image when it cannot be read.
QImage LoadJpeg(const QString& path);

QIcon AppIcon();
