#pragma once
// How one delivery try of a page ended, and how long a page that failed for the moment is tried again.
#include "transports/socket_lines.h"

#include <ctime>
#include <string>

namespace brimlow {

enum class Delivery {
    Sent,
    RetryLater, // no connection, no reply or a 4xx reply: the page waits for a later send-queue worker run
    Refused,    // a 5xx reply: the server will never take it
};

// The failure a refusal or a reply that never came stands for.
inline Delivery FailureOf(bool answered, const std::string& reply) {
    return answered && ReplyPermanent(reply) ? Delivery::Refused : Delivery::RetryLater;
}

// A page that still fails a day after it was written is given up.
constexpr time_t kRetryPeriodSeconds = 24 * 60 * 60;
inline bool RetryPeriodOver(time_t written, time_t now) { return now - written > kRetryPeriodSeconds; }

inline std::string KeptForRetryText(const std::string& recipient) {
    return "Page for " + recipient + " kept for a later try";
}
inline std::string GivenUpText(const std::string& recipient) {
    return "Page for " + recipient + " given up after 24 hours";
}

} // namespace brimlow
