#include "console/play_sound.h"

#include "directory/data_files.h"

namespace brimlow {

void PlaySoundFile(Console& console, const std::string& fileName) {
    if (console.playSound)
        console.playSound(JoinPath(console.dataDir, fileName));
}

} // namespace brimlow
