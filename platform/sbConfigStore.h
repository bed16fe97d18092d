#pragma once

#include <QString>

// The program's settings in the system configuration store: the key
// Vantrel\Burner, on Linux the file Vantrel/Burner.conf in the first folder of
// $XDG_CONFIG_DIRS (by default /etc/xdg/Vantrel/Burner.conf).

// The value's text, or a null QString when the value is missing or not a
// single text.
QString ReadConfigText(const QString &Name);

// Where the store lives, for messages and documentation.
QString ConfigStoreFileName();
