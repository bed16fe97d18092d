#pragma once

#include <QPixmap>
#include <QString>

// Name of the picture folder below the program directory: empty at start,
// set to "bres" by the welcome window when it is created.
extern QString GPictureFolder;

// The program directory, the picture folder and Name ("/blankora.bmp").
QString PicturePath(const QString &Name);

// The picture in FileName; when it cannot be read the standard error box says
// which file and why, and the result is a null pixmap.
QPixmap LoadPicture(const QString &FileName);
