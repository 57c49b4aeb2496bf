#include "platform/foundation/url_session.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string_view>

#include "platform/cryptokit/openssl_setup.h"
#include "platform/foundation/process_setting.h"

namespace {

bool sameFieldName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

// The certificates servers are verified against; empty: the system's.
kv::ProcessSetting<std::string>& trustedCertificates() {
    static auto& pemFile = *new kv::ProcessSetting<std::string>;
    return pemFile;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && sameFieldName(text.substr(0, prefix.size()), prefix);
}

// Requests go out over HTTPS only, as the platform's transport security
// demands: any other URL is refused before anything is sent.
std::optional<URLError> refusalOf(std::string_view url) {
    if (startsWithIgnoringCase(url, "https://")) return std::nullopt;
    if (startsWithIgnoringCase(url, "http://")) {
        return URLError{URLError::appTransportSecurityRequiresSecureConnection,
                        "The resource could not be loaded because the App Transport Security policy requires the "
                        "use of a secure connection."};
    }
    return URLError{URLError::unsupportedURL, "unsupported URL"};
}

URLError errorFor(CURLcode code) {
    switch (code) {
    case CURLE_URL_MALFORMAT:
        return {URLError::badURL, "bad URL"};
    // Every URL that reaches libcurl is an https one, so its unsupported
    // protocol is the answer's: bytes that are not HTTP (HTTP/0.9 to libcurl).
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_WEIRD_SERVER_REPLY:
        return {URLError::cannotParseResponse, "cannot parse response"};
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return {URLError::cannotFindHost, "A server with the specified hostname could not be found."};
    case CURLE_COULDNT_CONNECT:
        return {URLError::cannotConnectToHost, "Could not connect to the server."};
    case CURLE_OPERATION_TIMEDOUT:
        return {URLError::timedOut, "The request timed out."};
    case CURLE_PEER_FAILED_VERIFICATION:
        return {URLError::serverCertificateUntrusted, "The certificate for this server is invalid."};
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
        return {URLError::secureConnectionFailed,
                "An SSL error has occurred and a secure connection to the server cannot be made."};
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
        return {URLError::networkConnectionLost, "The network connection was lost."};
    default:
        return {URLError::unknown, "An unknown error occurred."};
    }
}

struct Received {
    std::string body;
    HTTPHeaders headers;
};

size_t receiveBody(char* data, size_t size, size_t count, void* place) {
    static_cast<Received*>(place)->body.append(data, size * count);
    return size * count;
}

// Keeps the header fields of the last response: an interim one (such as
// 100 Continue) is dropped when the next status line comes.
size_t receiveHeader(char* data, size_t size, size_t count, void* place) {
    auto& headers = static_cast<Received*>(place)->headers;
    std::string_view line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.starts_with("HTTP/")) {
        headers.clear();
    } else if (const size_t colon = line.find(':'); colon != std::string_view::npos) {
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
        headers.emplace_back(line.substr(0, colon), value);
    }
    return size * count;
}

struct Exchange {
    std::optional<std::string> body;
    std::shared_ptr<const NSURLResponse> response;
    std::optional<URLError> error;
};

Exchange perform(const URLRequest& request) {
    if (auto refusal = refusalOf(request.URL)) return {std::nullopt, nullptr, std::move(refusal)};
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) return {std::nullopt, nullptr, URLError{URLError::unknown, "An unknown error occurred."}};
    CURL* handle = curl.get();

    curl_slist* fields = nullptr;
    for (const auto& [name, value] : request.allHTTPHeaderFields) {
        // "Name;" is how an empty header is sent; "Name:" would drop it.
        fields = curl_slist_append(fields, (name + (value.empty() ? ";" : ": " + value)).c_str());
    }
    // The platform sends the body at once, without asking to continue first.
    fields = curl_slist_append(fields, "Expect:");
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerList(fields, curl_slist_free_all);

    Received received;
    const std::string trusted = trustedCertificates().get();
    const double timeout = std::isfinite(request.timeoutInterval) && request.timeoutInterval > 0
                               ? std::min(request.timeoutInterval, 86400.0)
                               : 60.0;
    curl_easy_setopt(handle, CURLOPT_URL, request.URL.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    // This machine's own addresses are never reached through a proxy.
    curl_easy_setopt(handle, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout * 1000));
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headerList.get());
    if (request.httpMethod == "POST") {
        curl_easy_setopt(handle, CURLOPT_POST, 1L);
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.httpBody.data());
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.httpBody.size()));
    } else if (request.httpMethod != "GET") {
        curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, request.httpMethod.c_str());
    }
    if (!trusted.empty()) curl_easy_setopt(handle, CURLOPT_CAINFO, trusted.c_str());
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, receiveBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &received);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, receiveHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &received);

    const CURLcode outcome = curl_easy_perform(handle);
    if (outcome != CURLE_OK) return {std::nullopt, nullptr, errorFor(outcome)};
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    auto response = std::make_shared<const NSHTTPURLResponse>(request.URL, status, std::move(received.headers));
    return {std::move(received.body), std::move(response), std::nullopt};
}

}  // namespace

void URLRequest::setValue(std::string value, std::string_view field) {
    const auto same = [&](const auto& entry) { return sameFieldName(entry.first, field); };
    const auto entry = std::find_if(allHTTPHeaderFields.begin(), allHTTPHeaderFields.end(), same);
    if (entry != allHTTPHeaderFields.end()) {
        entry->second = std::move(value);
    } else {
        allHTTPHeaderFields.emplace_back(std::string(field), std::move(value));
    }
}

std::optional<std::string> URLRequest::valueForHTTPHeaderField(std::string_view field) const {
    for (const auto& [name, value] : allHTTPHeaderFields) {
        if (sameFieldName(name, field)) return value;
    }
    return std::nullopt;
}

std::string NSURLResponse::description() const { return "<NSURLResponse> { URL: " + URL + " }"; }

std::string NSHTTPURLResponse::description() const {
    std::string text = "<NSHTTPURLResponse> { URL: " + URL + " } { Status Code: " + std::to_string(statusCode) +
                       ", Headers {";
    for (const auto& [name, value] : allHeaderFields) text += " \"" + name + "\" = " + value + ";";
    return text + " } }";
}

std::string URLError::localizedDescription() const {
    if (!message.empty()) return message;
    return "The operation couldn\u2019t be completed. (NSURLErrorDomain error " + std::to_string(int(code)) + ".)";
}

void NSURLSessionDataTask::resume() {
    if (resumed_) return;
    resumed_ = true;
    session_.enqueue(shared_from_this());
}

NSURLSession& NSURLSession::sharedSession() {
    // Never destroyed: its queue may still be running while the process ends.
    static NSURLSession& session = [] () -> NSURLSession& {
        kv::setUpURLLoading();
        return *new NSURLSession;
    }();
    return session;
}

std::shared_ptr<NSURLSessionDataTask> NSURLSession::dataTaskWithRequest(URLRequest request,
                                                                       DataTaskCompletion completion) {
    return std::make_shared<NSURLSessionDataTask>(*this, std::move(request), std::move(completion));
}

void NSURLSession::enqueue(std::shared_ptr<NSURLSessionDataTask> task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    if (!queue_.joinable()) queue_ = std::thread([this] { runQueue(); });
    queued_.notify_one();
}

void NSURLSession::runQueue() {
    for (;;) {
        std::shared_ptr<NSURLSessionDataTask> task;
        {
            std::unique_lock lock(mutex_);
            queued_.wait(lock, [this] { return !tasks_.empty(); });
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        Exchange done = perform(task->request_);
        if (task->completion_) task->completion_(std::move(done.body), std::move(done.response), std::move(done.error));
    }
}

namespace kv {

void setUpURLLoading() {
    static std::once_flag once;
    std::call_once(once, [] {
        // OpenSSL first, so that libcurl's use of it registers no clean-up at exit.
        setUpOpenSSL();
        curl_global_init(CURL_GLOBAL_DEFAULT);
    });
}

std::string setTrustedCertificatesFile(std::string pemFile) { return trustedCertificates().exchange(std::move(pemFile)); }

}  // namespace kv
