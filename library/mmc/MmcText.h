#pragma once

#include "library/mmc/MmcTypes.h"

#include <QCoreApplication>

#include <string>

// Translation of the layer's texts; sources are marked with
// QT_TRANSLATE_NOOP("Mmc", ...) so that lupdate finds them.
namespace blankora::mmc {

inline std::string trText(const char *source)
{
    return QCoreApplication::translate("Mmc", source).toStdString();
}

template <class T> MmcResult<T> failed(std::string text)
{
    MmcResult<T> result;
    result.text = std::move(text);
    return result;
}

template <class T> MmcResult<T> succeeded(T value)
{
    MmcResult<T> result;
    result.ok = true;
    result.value = std::move(value);
    return result;
}

} // namespace blankora::mmc
