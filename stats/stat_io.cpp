#include "stats/stat_io.h"

#include <utility>

#include "platform/foundation/json_encoder.h"
#include "platform/foundation/log.h"
#include "platform/foundation/process_setting.h"
#include "platform/foundation/standard_output.h"
#include "platform/foundation/utf8.h"
#include "stats/auth_token.h"

namespace kv {
namespace {

ProcessSetting<std::string>& endpoint() {
    static auto& url = *new ProcessSetting<std::string>(KV_STATISTICS_ENDPOINT);
    return url;
}

// The one encoder of every upload, made on first use.
const JSONEncoder& sharedEncoder() {
    static const JSONEncoder& encoder = *new JSONEncoder;
    return encoder;
}

constexpr double kRequestTimeout = 60;

}  // namespace

std::string statisticsEndpoint() { return endpoint().get(); }

std::string setStatisticsEndpoint(std::string url) { return endpoint().exchange(std::move(url)); }

Message makeUsageMessage(uint64_t installation) {
    Message message;
    Message::AppInfo app;
    app.fillAppInfo();
    message.app = std::move(app);
    message.app->ins = installation;
    Message::DeviceInfo dev;
    dev.fillDeviceInfo();
    message.dev = std::move(dev);
    return message;
}

Result<void> IO::sendMessage(const Message& message) {
    Result<std::string> encoded = sharedEncoder().encode(message);
    if (!encoded) return encoded.error();
    std::string body = std::move(encoded).value();
    if (isValidUtf8(body)) NSLog("Usage data JSON: " + body);

    printLine("Creating URL");
    URLRequest request(statisticsEndpoint(), URLRequest::useProtocolCachePolicy, kRequestTimeout);

    printLine("Creating token");
    std::string token = Auth::makeAuthToken(message);

    printLine("Configuring request");
    request.setValue("application/json", "Content-Type");
    request.setValue(std::to_string(body.size()), "Content-Length");
    request.setValue(std::move(token), "token");
    request.httpMethod = "POST";
    request.httpBody = std::move(body);

    printLine("Creating task");
    NSURLSession::sharedSession().dataTaskWithRequest(std::move(request), &IO::handleSendResponse)->resume();
    return {};
}

void IO::handleSendResponse(std::optional<std::string> body, std::shared_ptr<const NSURLResponse> response,
                            std::optional<URLError> error) {
    const auto* http = dynamic_cast<const NSHTTPURLResponse*>(response.get());
    if (body && http && !error) {
        if (http->statusCode >= 200 && http->statusCode <= 299) {
            printLine("Request succeeded; data: " + std::to_string(body->size()) + " bytes");
            if (isValidUtf8(*body)) printLine("Data: " + *body);
        } else {
            printLine("Status code should be 2xx but is " + std::to_string(http->statusCode));
            printLine("Response: " + http->description());
        }
        return;
    }
    const URLError reported = error.value_or(URLError{URLError::badServerResponse, ""});
    printLine("Error " + reported.localizedDescription());
}

}  // namespace kv
