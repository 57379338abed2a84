#pragma once
// Unique 8.3 names for queue and packet files from one letter counter per console. The counter moves on only
// past a name that exists, and a file takes its name by a rename that never replaces, under the console's naming
// lock, so neither two threads nor two processes can take the same name.
#include "console/console.h"

#include <ctime>
#include <string>
#include <string_view>

namespace brimlow {

constexpr const char* kNameTemplate = "XXXXXXXXX";

// Replaces the trailing "XXXXXXXXX" of path with the counter's next free name. Returns false and leaves the
// path unchanged when it does not end so.
bool MakeUniqueName(Console& console, std::string& path);

// Writes bytes to a hidden file beside path, then gives it the counter's next free name in one rename: a reader
// listing the folder (a running call, a send-queue worker) finds a page whole or not at all. Returns false
// (nothing left behind) when it cannot be written.
bool WriteUniqueFile(Console& console, std::string& path, std::string_view bytes);
// WriteUniqueFile for a page put back into the queue after a failed try: the file keeps lastWrite as its
// last-write time (the page's age), and its name lies past the last one handed out, so that no reader that
// listed the folder before, the worker putting it back included, meets the page again in the same pass.
bool PutBackUniqueFile(Console& console, std::string& path, std::string_view bytes, time_t lastWrite);
// The two steps of WriteUniqueFile for a writer of its own. CreateStagingFile opens a hidden file beside path,
// matched by no queue pattern, and names it in staging; -1 when it cannot (or path does not end in the nine
// "X"). PublishUniqueFile gives the closed staging file its unique name, or removes it and returns false.
int CreateStagingFile(const std::string& path, std::string& staging);
bool PublishUniqueFile(Console& console, const std::string& staging, std::string& path);

// A rename that never replaces an existing file; false with errno EEXIST when to exists.
bool RenameNoReplace(const std::string& from, const std::string& to);

// Adds one to an eight-letter base-26 counter, the last letter least significant; a carry out of the first
// letter is dropped.
void AdvanceNameCounter(std::array<char, 8>& counter);

} // namespace brimlow
