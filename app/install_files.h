#pragma once
// The sounds and the manual that a data directory needs; the program carries its own copies and puts them into
// a data directory that lacks them.
#include <string>

namespace brimlow {

constexpr const char* kClickSound = "click.wav";
constexpr const char* kReceiveSound = "receive.wav";
constexpr const char* kManualFile = "Brimlow.PDF";

// Copies each missing file into dataDir; files already there are left as the operator placed them.
void InstallDataFiles(const std::string& dataDir);

} // namespace brimlow
