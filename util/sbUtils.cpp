#include "util/sbUtils.h"

#include "util/sbErrors.h"

#include <QFile>
#include <QLocale>
#include <QStringEncoder>

#include <cmath>
#include <cstdlib>

void AppendLineToFile(const QString &FileName, const QString &Line)
{
    QFile file(FileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        throw EsbError(
            QStringLiteral("Cannot open file \"%1\". %2").arg(FileName, file.errorString()));

    QStringEncoder encoder(QStringConverter::System);
    const QByteArray bytes = encoder.encode(Line + QStringLiteral("\r\n"));
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QString reason = file.errorString();
        file.close();
        throw EsbError(QStringLiteral("Cannot write to file \"%1\". %2").arg(FileName, reason));
    }
    file.close();
    if (file.error() != QFileDevice::NoError)
        throw EsbError(
            QStringLiteral("Cannot close file \"%1\". %2").arg(FileName, file.errorString()));
}

// Fixed notation with two decimals, rounded once from the exact quotient
// (585.9648 gives 585.96); beyond six integer digits the number is written in
// scientific notation.
QString MegabytesText(int64_t Bytes, bool WithoutUnit)
{
    const double megabytes = std::fabs(static_cast<double>(Bytes)) / 1048576.0;
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    QString text;
    if (megabytes >= 999999.5) {
        text = locale.toString(megabytes, 'E', 5);
    } else {
        text = locale.toString(megabytes, 'f', 2);
    }
    if (!WithoutUnit)
        text += QStringLiteral(" MB");
    return text;
}

QString ZeroPad(int Value, uint8_t Width)
{
    const QString padded = QString(Width, QLatin1Char('0')) + QString::number(Value);
    return padded.right(Width);
}

QString StripDevicePrefix(const QString &DevicePath)
{
    static const QString prefix = QStringLiteral("\\\\.\\");
    const qsizetype at = DevicePath.indexOf(prefix);
    if (at < 0)
        return DevicePath;
    return DevicePath.mid(at + prefix.size());
}

QString TextFromChars(const char *Buffer, int HighIndex)
{
    if (Buffer == nullptr || HighIndex < 0)
        return QString();
    int length = 0;
    while (length <= HighIndex && Buffer[length] != '\0')
        ++length;
    return QString::fromLocal8Bit(Buffer, length);
}
