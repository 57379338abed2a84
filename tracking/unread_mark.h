#pragma once
// The unread (not yet collected) mark of a tracking ticket: the owner-execute bit, as Samba maps the DOS archive
// bit. Every write of a ticket sets it; viewing, acknowledging or handing the ticket to its client clears it.
#include <string>
#include <sys/types.h>

namespace brimlow {

bool SetUnreadMark(const std::string& path);
bool ClearUnreadMark(const std::string& path);
bool HasUnreadMark(mode_t mode);
bool HasUnreadMark(const std::string& path);

} // namespace brimlow
