#pragma once
// The sounds of the data directory, played through the console's sound hook.
#include "app/console.h"
#include "app/install_files.h"

#include <string>

namespace brimlow {

// Plays dataDir/fileName and returns when it has played; nothing happens where the console has no player.
void PlaySoundFile(Console& console, const std::string& fileName);

} // namespace brimlow
