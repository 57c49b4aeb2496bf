#pragma once
// HTTPS requests as the platform's URL session makes them: a request is
// handed to a data task, which runs on the session's own queue and gives
// its outcome to a completion routine there. Built on libcurl. Only https
// URLs are loaded; certificates are always verified; tests make a
// certificate of their own trusted with kv::setTrustedCertificatesFile.
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

using HTTPHeaders = std::vector<std::pair<std::string, std::string>>;

struct URLRequest {
    enum CachePolicy : int { useProtocolCachePolicy = 0 };

    URLRequest(std::string url, int policy, double timeout)
        : URL(std::move(url)), cachePolicy(policy), timeoutInterval(timeout) {}

    // Sets a header, replacing one of the same name (names ignore case).
    // An empty value is sent as an empty header.
    void setValue(std::string value, std::string_view field);
    std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const;

    std::string URL;
    int cachePolicy = useProtocolCachePolicy;
    double timeoutInterval = 60;  // seconds for the whole exchange
    std::string httpMethod = "GET";
    HTTPHeaders allHTTPHeaderFields;  // in the order they were set
    std::string httpBody;
};

class NSURLResponse {
public:
    explicit NSURLResponse(std::string url) : URL(std::move(url)) {}
    virtual ~NSURLResponse() = default;
    virtual std::string description() const;

    std::string URL;
};

class NSHTTPURLResponse : public NSURLResponse {
public:
    NSHTTPURLResponse(std::string url, long status, HTTPHeaders headers)
        : NSURLResponse(std::move(url)), statusCode(status), allHeaderFields(std::move(headers)) {}

    // One line: the URL, the status code and the headers.
    std::string description() const override;

    long statusCode;
    HTTPHeaders allHeaderFields;
};

struct URLError {
    enum Code : int {
        unknown = -1,
        badURL = -1000,
        timedOut = -1001,
        unsupportedURL = -1002,
        cannotFindHost = -1003,
        cannotConnectToHost = -1004,
        networkConnectionLost = -1005,
        badServerResponse = -1011,
        cannotParseResponse = -1017,
        appTransportSecurityRequiresSecureConnection = -1022,
        secureConnectionFailed = -1200,
        serverCertificateUntrusted = -1202,
    };

    Code code = unknown;
    std::string message;  // empty: the error was made with no user information

    // The message, or for an error made bare the platform's general text
    // ("The operation couldn’t be completed. (NSURLErrorDomain error -1011.)").
    std::string localizedDescription() const;
};

// The outcome of a data task: the body and the response when the exchange
// ended, the error when it did not.
using DataTaskCompletion = std::function<void(std::optional<std::string> body,
                                              std::shared_ptr<const NSURLResponse> response,
                                              std::optional<URLError> error)>;

class NSURLSession;

class NSURLSessionDataTask : public std::enable_shared_from_this<NSURLSessionDataTask> {
public:
    NSURLSessionDataTask(NSURLSession& session, URLRequest request, DataTaskCompletion completion)
        : session_(session), request_(std::move(request)), completion_(std::move(completion)) {}

    // Queues the exchange on the session; a task runs once.
    void resume();

private:
    friend class NSURLSession;
    NSURLSession& session_;
    URLRequest request_;
    DataTaskCompletion completion_;
    bool resumed_ = false;
};

class NSURLSession {
public:
    // The process's session. Its queue runs one exchange at a time and
    // lives as long as the process.
    static NSURLSession& sharedSession();

    std::shared_ptr<NSURLSessionDataTask> dataTaskWithRequest(URLRequest request, DataTaskCompletion completion);

private:
    friend class NSURLSessionDataTask;
    NSURLSession() = default;
    void enqueue(std::shared_ptr<NSURLSessionDataTask> task);
    void runQueue();

    std::mutex mutex_;
    std::condition_variable queued_;
    std::deque<std::shared_ptr<NSURLSessionDataTask>> tasks_;
    std::thread queue_;
};

namespace kv {

// Sets up libcurl and OpenSSL once for the process, without their clean-up
// at exit, so that a request may still be running while the process ends.
// Call it before starting a thread that makes requests, while no other
// thread uses either library; the shared session calls it too.
void setUpURLLoading();

// Verifies servers against the certificates in `pemFile` instead of the
// system's; an empty path restores the system's. Returns the file set before.
std::string setTrustedCertificatesFile(std::string pemFile);

}  // namespace kv
