#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class TsbBurner;

// One write speed the drive takes for the inserted disc: its factor of the
// unit speed, the speed in KB/s and the text the options page shows.
class TsbDiscSpeedItem
{
public:
    int32_t SpeedInPoint = 1;
    int32_t SpeedInSize = 176;
    QString StrSpeed;
};

// The write speeds that the drive really accepts for the inserted disc,
// found by trying a ladder of speeds and keeping each distinct one reported.
class TsbDiscSpeedList
{
public:
    TsbDiscSpeedList();
    virtual ~TsbDiscSpeedList();
    TsbDiscSpeedList(const TsbDiscSpeedList &) = delete;
    TsbDiscSpeedList &operator=(const TsbDiscSpeedList &) = delete;

    // Rebuilds the list on the burner's open device; raises EsbError when the
    // drive refuses the first speed setting or query.
    virtual void BuildSpeedList(TsbBurner *Burner);

    TsbDiscSpeedItem *Items(int Index) const;
    TsbDiscSpeedItem *Add();
    int Count() const { return static_cast<int>(FItems.size()); }
    void Clear() { FItems.clear(); }
    TsbDiscSpeedItem *FindBySpeedInPoint(int32_t SpeedInPoint) const;
    // An item with the speed 0 KB/s stands for the drive's own speed.
    void UpdateSpeedTexts();

    uint32_t MaxReadSpeed = 0;
    uint32_t MaxWriteSpeed = 0;

private:
    // The one item of a drive that sets its speed itself.
    void AddOwnSpeed();

    std::vector<std::unique_ptr<TsbDiscSpeedItem>> FItems;
};

// The speed text of a drive that takes no speed command and chooses its own.
QString OwnSpeedText();
