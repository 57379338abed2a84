#pragma once
// The sounds and the manual that a data directory needs; the program carries its own copies and puts them into
// a data directory that lacks them.
#include "console/play_sound.h"

#include <string>

namespace brimlow {

constexpr const char* kManualFile = "Brimlow.PDF";

// Copies each missing file into dataDir; files already there are left as the operator placed them.
void InstallDataFiles(const std::string& dataDir);

} // namespace brimlow
