#include "framework/sbCallBack.h"

#include "framework/sbDeviceList.h"
#include "library/StarBurn.h"

TsbCallBackEventer *GCallBackEventer = nullptr;
std::atomic<bool> GReason11Enabled{false};
std::atomic<int64_t> GLastProgress{0};

TsbCallBackEventer::TsbCallBackEventer(QObject *Parent) : QObject(Parent) {}

void TsbCallBackEventer::DoProgress(int32_t Percent)
{
    emit OnProgress(this, Percent);
}

void TsbCallBackEventer::DoBuffer(int32_t Percent)
{
    emit OnBuffer(this, Percent);
}

namespace {

void HandleProgress(const void *Special1, const void *Special2)
{
    if (Special1 == nullptr || Special2 == nullptr)
        return;
    const auto Total = static_cast<int64_t>(*static_cast<const uint64_t *>(Special1));
    const auto Done = static_cast<int64_t>(*static_cast<const uint64_t *>(Special2));
    if (Total == 0)
        return;
    // Widened so that a huge amount cannot overflow the multiplication.
    const auto Percent = static_cast<int64_t>(static_cast<__int128>(Done) * 100 / Total);
    if (GLastProgress.exchange(Percent) == Percent)
        return;
    if (GCallBackEventer != nullptr)
        GCallBackEventer->DoProgress(static_cast<int32_t>(Percent));
}

void HandleBuffer(const void *Special1, const void *Special2)
{
    if (Special1 == nullptr || Special2 == nullptr)
        return;
    const uint32_t Size = *static_cast<const uint32_t *>(Special1);
    const uint32_t Free = *static_cast<const uint32_t *>(Special2);
    if (Size == 0)
        return;
    // Unsigned 32-bit on purpose: Free * 100 wraps like the library's own arithmetic.
    const uint32_t Percent = 100u - (Free * 100u / Size);
    if (GCallBackEventer != nullptr)
        GCallBackEventer->DoBuffer(static_cast<int32_t>(Percent));
}

} // namespace

void LibraryCallback(uint8_t Reason, void *Context, void *Special1, void *Special2)
{
    switch (Reason) {
    case CN_DEVICE_FOUND:
        if (Context != nullptr)
            HandleDeviceFound(static_cast<TsbDeviceList *>(Context),
                              static_cast<const STARBURN_DEVICE_ADDRESS *>(Special1),
                              static_cast<const char *>(Special2));
        break;
    case CN_CDVD_READ_PROGRESS:
        if (GReason11Enabled.load())
            HandleProgress(Special1, Special2);
        break;
    case CN_CDVD_WRITE_PROGRESS:
        HandleProgress(Special1, Special2);
        break;
    case CN_CDVD_BUFFER_STATUS:
        HandleBuffer(Special1, Special2);
        break;
    default:
        break;
    }
}
