#pragma once

class TsbBurner;

// Fills in what the device page would have shown of the burner's opened drive
// and its disc, which the erase compares with the drive just before it sets
// the speed.
void ShowChosenDrive(TsbBurner &Burner);
