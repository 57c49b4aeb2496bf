#include "stats/stat_io.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <cmath>

#include "platform/foundation/json_encoder.h"
#include "stats/auth_token.h"
#include "tests/stats/stats_test_support.h"

namespace kv {
namespace {

using namespace std::chrono_literals;

// The statistics endpoint and the trusted certificates, both set for the
// length of one test.
class ScopedEndpoint {
public:
    ScopedEndpoint(std::string url, std::string trusted)
        : url_(setStatisticsEndpoint, std::move(url)), trusted_(setTrustedCertificatesFile, std::move(trusted)) {}

private:
    ScopedOverride<std::string> url_;
    ScopedOverride<std::string> trusted_;
};

class UploadConcurrencyTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(server.failure(), ""); }

    // Sends `message` and waits for the completion's first line.
    void send(const Message& message, std::string_view completion) {
        ASSERT_TRUE(IO::sendMessage(message).ok());
        ASSERT_TRUE(world.out.waitForLineStartingWith(completion, 20s)) << ::testing::PrintToString(world.out.lines());
    }

    test::HttpsTestServer server;
    test::StatsWorld world;
    ScopedEndpoint endpoint{server.url(), server.certificate().string()};
};

TEST_F(UploadConcurrencyTest, PostsTheMessageWithItsHeadersAndPrintsEachStep) {
    Message message = makeUsageMessage(1700000000123);
    message.usg = Message::UsageInfo{};
    message.usg->frmren.emplace().c = 3;
    send(message, "Data: ");

    const std::string body = JSONEncoder().encode(message).value();
    ASSERT_EQ(server.requests().size(), 1u);
    const test::ReceivedRequest request = server.requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/backend/stat");
    EXPECT_EQ(request.body, body);
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_EQ(request.header("Content-Length"), std::to_string(body.size()));
    EXPECT_EQ(request.header("token"), Auth::oneTimeCode(Auth::tokenKey(1700000000123), 1700000000123 / 30000));
    EXPECT_EQ(world.log.lines(), std::vector<std::string>{"Usage data JSON: " + body});
    EXPECT_EQ(world.out.lines(), (std::vector<std::string>{"Creating URL", "Creating token", "Configuring request",
                                                           "Creating task", "Request succeeded; data: 2 bytes",
                                                           "Data: ok"}));
}

TEST_F(UploadConcurrencyTest, MessageWithoutAppRecordGoesOutWithAnEmptyToken) {
    send(Message(), "Data: ");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].header("token"), "");
}

TEST_F(UploadConcurrencyTest, AnswersOtherThan2xxAndBodiesThatAreNotTextArePrinted) {
    server.answer(500, "broken");
    send(Message(), "Response: ");
    const auto lines = world.out.lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[4], "Status code should be 2xx but is 500");
    EXPECT_NE(lines[5].find("Status Code: 500"), std::string::npos) << lines[5];

    world.out.clear();
    server.answer(201, "\xff\xfe");
    send(Message(), "Request succeeded; data: 2 bytes");
    EXPECT_EQ(world.out.lines().size(), 5u);  // no "Data: " line
}

TEST_F(UploadConcurrencyTest, ServerWithoutATrustedCertificateIsRefused) {
    setTrustedCertificatesFile("");
    send(Message(), "Error ");
    EXPECT_EQ(world.out.lines().back(), "Error The certificate for this server is invalid.");
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(UploadConcurrencyTest, RefusedConnectionPrintsTheError) {
    // A port bound to no listener: connecting is refused.
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length), 0);
    setStatisticsEndpoint("https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/backend/stat");
    send(Message(), "Error ");
    ::close(socket);
    EXPECT_EQ(world.out.lines().back(), "Error Could not connect to the server.");
}

TEST_F(UploadConcurrencyTest, UrlThatIsNotHttpsIsRefusedBeforeAnythingIsSent) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string place = "127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/backend/stat";
    const std::string insecure = "Error The resource could not be loaded because the App Transport Security policy "
                                 "requires the use of a secure connection.";
    const std::pair<std::string, std::string> refusals[] = {
        {"http://" + place, insecure}, {"HTTP://" + place, insecure}, {"ftp://" + place, "Error unsupported URL"}};
    for (const auto& [url, line] : refusals) {
        world.out.clear();
        setStatisticsEndpoint(url);
        send(Message(), "Error ");
        EXPECT_EQ(world.out.lines().back(), line) << url;
    }
    EXPECT_EQ(::accept(listener, nullptr, nullptr), -1) << "a connection was made";
    ::close(listener);
}

TEST_F(UploadConcurrencyTest, AnswerThatIsNotHttpCannotBeParsed) {
    for (const std::string_view answer : {"not HTTP at all\r\n", "HTTP/1.1 200 OK\r\nno colon\r\n\r\n"}) {
        world.out.clear();
        server.answerWithBytes(answer);
        send(Message(), "Error ");
        EXPECT_EQ(world.out.lines().back(), "Error cannot parse response") << answer;
    }
}

TEST_F(UploadConcurrencyTest, MessageThatCannotBeEncodedIsNeitherLoggedNorSent) {
    Message message;
    message.pfm.emplace().fpsanz.emplace().lf = std::nanf("");
    EXPECT_FALSE(IO::sendMessage(message).ok());
    EXPECT_TRUE(world.log.lines().empty());
    EXPECT_TRUE(world.out.lines().empty());
}

TEST(UploadResponseTest, MissingBodyResponseOrHttpAnswerIsABadServerResponse) {
    StandardOutputCapture out;
    const auto http = std::make_shared<NSHTTPURLResponse>("https://127.0.0.1/", 200, HTTPHeaders{});
    IO::handleSendResponse(std::nullopt, http, std::nullopt);
    IO::handleSendResponse("x", std::make_shared<NSURLResponse>("file:///x"), std::nullopt);
    IO::handleSendResponse("x", http, URLError{URLError::timedOut, "The request timed out."});
    const std::string bad = "Error The operation couldn\u2019t be completed. (NSURLErrorDomain error -1011.)";
    EXPECT_EQ(out.lines(), (std::vector<std::string>{bad, bad, "Error The request timed out."}));
}

TEST(UploadResponseTest, OnlyStatusCodesFrom200To299Succeed) {
    for (const long status : {199L, 200L, 299L, 300L}) {
        StandardOutputCapture out;
        IO::handleSendResponse("ok", std::make_shared<NSHTTPURLResponse>("https://127.0.0.1/", status, HTTPHeaders{}),
                               std::nullopt);
        const bool succeeded = status >= 200 && status <= 299;
        ASSERT_FALSE(out.lines().empty());
        EXPECT_EQ(out.lines()[0], succeeded ? "Request succeeded; data: 2 bytes"
                                            : "Status code should be 2xx but is " + std::to_string(status));
    }
}

}  // namespace
}  // namespace kv
