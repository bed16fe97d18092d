#include "framework/sbSpeedList.h"

#include "framework/sbBurner.h"
#include "framework/sbErrors.h"
#include "framework/sbTypes.h"

#include <QCoreApplication>

#include <array>
#include <span>

namespace {

constexpr uint32_t UnitSpeedBD = 4495;
constexpr uint32_t UnitSpeedDVD = 1385;
constexpr uint32_t UnitSpeedCD = 176;
constexpr std::array<uint32_t, 9> LadderBD{4495,  8990,  17980, 26970, 35960,
                                           44950, 53940, 62930, 71920};
constexpr std::array<uint32_t, 10> LadderDVD{1385, 2770, 3324,  4155,  5540,
                                             6925, 8310, 11080, 16620, 22160};
constexpr std::array<uint32_t, 16> LadderCD{176,  353,  387,  528,  706,  1056, 1400, 1760,
                                            2112, 2800, 3250, 4224, 7040, 7744, 8448, 9152};

} // namespace

TsbDiscSpeedList::TsbDiscSpeedList() = default;

TsbDiscSpeedList::~TsbDiscSpeedList() = default;

TsbDiscSpeedItem *TsbDiscSpeedList::Items(int Index) const
{
    if (Index < 0 || Index >= Count())
        return nullptr;
    return FItems[static_cast<size_t>(Index)].get();
}

TsbDiscSpeedItem *TsbDiscSpeedList::Add()
{
    FItems.push_back(std::make_unique<TsbDiscSpeedItem>());
    return FItems.back().get();
}

TsbDiscSpeedItem *TsbDiscSpeedList::FindBySpeedInPoint(int32_t SpeedInPoint) const
{
    for (const auto &Item : FItems) {
        if (Item->SpeedInPoint == SpeedInPoint)
            return Item.get();
    }
    return nullptr;
}

QString OwnSpeedText()
{
    return QCoreApplication::translate("TsbDiscSpeedList", "The drive chooses its own speed");
}

void TsbDiscSpeedList::UpdateSpeedTexts()
{
    for (const auto &Item : FItems) {
        Item->StrSpeed = Item->SpeedInSize == 0
                             ? OwnSpeedText()
                             : QCoreApplication::translate("TsbDiscSpeedList", "%1.0x (%2 KB/sec)")
                                   .arg(Item->SpeedInPoint)
                                   .arg(Item->SpeedInSize);
    }
}

void TsbDiscSpeedList::BuildSpeedList(TsbBurner *Burner)
{
    Clear();
    if (Burner == nullptr)
        throw EsbError(QCoreApplication::translate(
            "TsbDiscSpeedList", "No drive is open. Go back and choose a device."));
    TsbBurner &B = *Burner;

    B.TakeDiscChangeReport();

    LogLibraryCall(QStringLiteral("CdvdBurnerGrabber_GetDiscInformation"));
    STARBURN_DISC_INFORMATION DiscInformation{};
    B.FExceptionCode = StarBurn_CdvdBurnerGrabber_GetDiscInformation(
        B.FGrabber, B.FExceptionText, sizeof(B.FExceptionText), &B.FSystemError, &B.FFailureInfo,
        &DiscInformation);
    if (B.FExceptionCode != EN_SUCCESS)
        LogLibraryCall(
            B.FailureText(QStringLiteral("StarBurn_CdvdBurnerGrabber_GetDiscInformation()")));

    TsbDriveSpeeds Speeds;
    bool TakesSpeeds = false;
    try {
        TakesSpeeds = B.ApplyWriteSpeed(STARBURN_SPEED_MAX, Speeds);
    } catch (...) {
        MaxReadSpeed = Speeds.MaximumRead;
        MaxWriteSpeed = Speeds.MaximumWrite;
        throw;
    }
    MaxReadSpeed = Speeds.MaximumRead;
    MaxWriteSpeed = Speeds.MaximumWrite;
    // A drive that takes no speed command or reports no write speed erases
    // at its own speed: one item says so, and the ladder would learn nothing.
    if (!TakesSpeeds || (Speeds.CurrentWrite == 0 && Speeds.MaximumWrite == 0)) {
        if (TakesSpeeds)
            LogLibraryCall(QStringLiteral("CdvdBurnerGrabber_GetSpeeds: the drive reports no "
                                          "write speed and works at its own speed"));
        AddOwnSpeed();
        return;
    }

    uint32_t UnitSpeed = UnitSpeedCD;
    std::span<const uint32_t> Ladder(LadderCD);
    if (IsBDDiscType(B.FDiscType)) {
        UnitSpeed = UnitSpeedBD;
        Ladder = LadderBD;
    } else if (IsDVDDiscType(B.FDiscType)) {
        UnitSpeed = UnitSpeedDVD;
        Ladder = LadderDVD;
    }
    // A value the drive does not take just reports back a speed already listed.
    for (const uint32_t WriteSpeed : Ladder) {
        B.FExceptionCode = StarBurn_CdvdBurnerGrabber_SetSpeeds(
            B.FGrabber, B.FExceptionText, sizeof(B.FExceptionText), &B.FSystemError,
            &B.FFailureInfo, Speeds.CurrentRead, WriteSpeed);
        B.FExceptionCode = StarBurn_CdvdBurnerGrabber_GetSpeeds(
            B.FGrabber, B.FExceptionText, sizeof(B.FExceptionText), &B.FSystemError,
            &B.FFailureInfo, &Speeds.CurrentRead, &Speeds.MaximumRead, &Speeds.CurrentWrite,
            &Speeds.MaximumWrite);
        const auto Factor = static_cast<int32_t>(Speeds.CurrentWrite / UnitSpeed);
        if (Speeds.CurrentWrite > 0 && FindBySpeedInPoint(Factor) == nullptr) {
            TsbDiscSpeedItem *Item = Add();
            Item->SpeedInPoint = Factor;
            Item->SpeedInSize = static_cast<int32_t>(Speeds.CurrentWrite);
        }
    }
    if (Count() == 0)
        AddOwnSpeed();
    UpdateSpeedTexts();
}

void TsbDiscSpeedList::AddOwnSpeed()
{
    TsbDiscSpeedItem *Item = Add();
    Item->SpeedInPoint = 0;
    Item->SpeedInSize = 0;
    UpdateSpeedTexts();
}
