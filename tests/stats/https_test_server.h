#pragma once
// A real HTTPS server on 127.0.0.1 for the upload tests: Python's
// http.server behind TLS with a self-signed certificate made for the test.
// Every POST is recorded and answered with the status and body set last.
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/url_session.h"
#include "tests/host/video/video_test_support.h"

namespace kv::test {

struct ReceivedRequest {
    std::string method;
    std::string path;
    HTTPHeaders headers;
    std::string body;

    // The value of the first header named `name` (any case); none when absent.
    std::optional<std::string> header(std::string_view name) const;
};

class HttpsTestServer {
public:
    HttpsTestServer();
    ~HttpsTestServer();
    HttpsTestServer(const HttpsTestServer&) = delete;
    HttpsTestServer& operator=(const HttpsTestServer&) = delete;

    // Empty when the server is up; otherwise why it is not.
    const std::string& failure() const { return failure_; }

    // How the following requests are answered (at first: 200, "ok").
    void answer(int status, std::string_view body);
    // Answers the following requests with `bytes` alone, not as HTTP.
    void answerWithBytes(std::string_view bytes);

    std::string url(std::string_view path = "/backend/stat") const;
    const std::filesystem::path& certificate() const { return certificate_; }

    // Waits until `count` requests have come; false after `timeout`.
    bool waitForRequests(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
    std::vector<ReceivedRequest> requests() const;

private:
    testing::ScratchDirectory directory_;
    std::filesystem::path certificate_;
    std::string failure_;
    int port_ = 0;
    int pid_ = -1;
};

}  // namespace kv::test
