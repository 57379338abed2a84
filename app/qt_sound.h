#pragma once
// The console's sound player: Qt Multimedia's QSoundEffect, played to its end on the calling thread.
#include <string>

namespace brimlow {

// Plays a .wav file and returns when it has played. A missing file, a machine without audio output or a
// process without a Qt application returns at once.
void PlayWavToEnd(const std::string& path);

} // namespace brimlow
