#include "app/uPictures.h"

#include "framework/sbMessageBox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

QString GPictureFolder;

QString PicturePath(const QString &Name)
{
    return PicturePathIn(QCoreApplication::applicationDirPath(), Name);
}

QString PicturePathIn(const QString &ProgramDir, const QString &Name)
{
    const QString beside = ProgramDir + u'/' + GPictureFolder + Name;
    if (QFileInfo::exists(beside))
        return beside;
    const QString installed = QDir::cleanPath(
        ProgramDir + QStringLiteral("/" BLANKORA_DATA_FROM_BIN "/") + GPictureFolder + Name);
    return QFileInfo::exists(installed) ? installed : beside;
}

QPixmap LoadPicture(const QString &FileName)
{
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly)) {
        ShowErrorMessage(QCoreApplication::translate("Pictures", "Cannot open file \"%1\". %2")
                             .arg(FileName, file.errorString()));
        return QPixmap();
    }
    QImage image;
    if (!image.load(&file, "BMP")) {
        ShowErrorMessage(QCoreApplication::translate(
                             "Pictures", "Cannot read picture \"%1\". Bitmap image is not valid")
                             .arg(FileName));
        return QPixmap();
    }
    return QPixmap::fromImage(image);
}
