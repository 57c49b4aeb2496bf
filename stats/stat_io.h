#pragma once
// The statistics upload: one statistics message, encoded as JSON, sent with
// one HTTPS POST to the statistics endpoint with the request token in a
// header. Nothing waits for the answer; its outcome is printed to standard
// output, and nothing is read back or retried.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/result.h"
#include "platform/foundation/url_session.h"
#include "stats/stat_message.h"

namespace kv {

struct IO {
    // Encodes `message` with the shared encoder, logs its JSON, and hands a
    // POST of it to the shared URL session. Fails, having logged and sent
    // nothing, when the message cannot be encoded.
    static Result<void> sendMessage(const Message& message);

    // The completion of the upload: prints the outcome, nothing more.
    static void handleSendResponse(std::optional<std::string> body, std::shared_ptr<const NSURLResponse> response,
                                   std::optional<URLError> error);
};

// A message made now, with its program and machine records filled and
// `app.ins` set to `installation`; the usage records are left for the caller.
Message makeUsageMessage(uint64_t installation);

// The URL the upload posts to: an "https" URL whose path is "/backend/stat".
// The build names it (KV_STATISTICS_ENDPOINT); empty when it names none.
std::string statisticsEndpoint();

// Replaces the endpoint; returns the one before. Tests point it at a server
// of their own on loopback.
std::string setStatisticsEndpoint(std::string url);

}  // namespace kv
