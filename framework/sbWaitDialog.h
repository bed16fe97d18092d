#pragma once

#include <QString>

#include <functional>
#include <memory>

// A small wait window shown while long work runs on another thread. The scan
// only knows this interface; the pages provide the real window through a factory.
class IsbWaitDialog
{
public:
    virtual ~IsbWaitDialog() = default;
    virtual void SetCaption(const QString &Caption) = 0;
    virtual void SetInfoText(const QString &Text) = 0;
    virtual void SetCancelVisible(bool Visible) = 0;
    virtual void SetOnCancel(std::function<void()> Handler) = 0;
    virtual void ShowDialog() = 0;
    virtual void HideDialog() = 0;
};

using TsbWaitDialogFactory = std::function<std::unique_ptr<IsbWaitDialog>()>;
