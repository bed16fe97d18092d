#pragma once

#include <QPixmap>
#include <QString>

// Name of the picture folder below the program directory: empty at start,
// set to "bres" by the welcome window when it is created.
extern QString GPictureFolder;

// The picture folder and Name ("/blankora.bmp") in the program directory,
// where the build puts them; failing that in the installed data folder
// (/usr/share/blankora beside /usr/bin). When neither has the file, the path
// in the program directory, which the error then names.
QString PicturePath(const QString &Name);
// The same for a program in ProgramDir.
QString PicturePathIn(const QString &ProgramDir, const QString &Name);

// The picture in FileName; when it cannot be read the standard error box says
// which file and why, and the result is a null pixmap.
QPixmap LoadPicture(const QString &FileName);
