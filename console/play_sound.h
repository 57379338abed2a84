#pragma once
// The sounds of the data directory, played through the console's sound hook.
#include "console/console.h"

#include <string>

namespace brimlow {

constexpr const char* kClickSound = "click.wav";
constexpr const char* kReceiveSound = "receive.wav";

// Plays dataDir/fileName and returns when it has played; nothing happens where the console has no player.
void PlaySoundFile(Console& console, const std::string& fileName);

} // namespace brimlow
