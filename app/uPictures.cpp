#include "app/uPictures.h"

#include "framework/sbMessageBox.h"

#include <QCoreApplication>
#include <QFile>
#include <QImage>

QString GPictureFolder;

QString PicturePath(const QString &Name)
{
    return QCoreApplication::applicationDirPath() + u'/' + GPictureFolder + Name;
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
