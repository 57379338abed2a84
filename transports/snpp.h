#pragma once
// SNPP paging: one connection per page, optionally two-way ("2WAY"), with a tracking ticket for two-way pages.
#include "console/console.h"
#include "transports/delivery.h"

#include <string>

namespace brimlow {

// Send's sender, on the user-interface thread: the company from the local table, or the network directory's
// when the page's tab is the Network tab; the signature is appended when attached; status lines go to the
// Result list directly.
bool SendSnppNow(Console& console, const ComposedPage& page, const std::string& subscriberName,
                 const std::string& pin, int companyIndex);

// The send-queue worker's and the server SNPP job's sender: local company table, status lines by PostStatus.
// A non-empty owner names the network user on whose behalf the server sends.
bool SendSnppByIndex(Console& console, const std::string& subscriberName, const std::string& pin, int companyIndex,
                     const std::string& text, const std::string& owner);
// The same, saying whether a failed page is worth another try (the send-queue worker keeps those).
Delivery DeliverSnppByIndex(Console& console, const std::string& subscriberName, const std::string& pin,
                            int companyIndex, const std::string& text, const std::string& owner);

// The client page job's sender: the company record carried in the request.
bool SendSnppByRecord(Console& console, const CompanyRecord& company, const std::string& subscriberName,
                      const std::string& pin, const std::string& text, const std::string& owner);

} // namespace brimlow
