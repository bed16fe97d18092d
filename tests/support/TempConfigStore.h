#pragma once

#include <QString>
#include <QTemporaryDir>

// A configuration store of its own for one test: while it lives, the
// program's settings (Vantrel/Burner) are read from a fresh temporary folder
// instead of the system's. Settings take effect for loggers created afterwards.
class TempConfigStore
{
public:
    TempConfigStore();
    ~TempConfigStore();
    TempConfigStore(const TempConfigStore &) = delete;
    TempConfigStore &operator=(const TempConfigStore &) = delete;

    // Stores Value as the text of setting Name.
    void SetText(const QString &Name, const QString &Value);
    // Writes the store's file by hand, as an administrator would.
    void WriteFile(const QByteArray &Contents);
    QString FileName() const;

    // Where the system store lives without a TempConfigStore: the first
    // folder of $XDG_CONFIG_DIRS, else /etc/xdg.
    static QString SystemFolder();

private:
    QTemporaryDir FFolder;
};
