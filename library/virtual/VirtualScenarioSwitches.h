#pragma once

// Reading a drive's "faults" and "quirks" objects of a scenario file.

#include "library/virtual/VirtualScenarioReader.h"

namespace blankora::virtualbay {

bool parseFaults(ScenarioReader &reader, const QJsonObject &object, const std::string &path,
                 Faults &faults);
bool parseQuirks(ScenarioReader &reader, const QJsonObject &object, const std::string &path,
                 Quirks &quirks);

} // namespace blankora::virtualbay
