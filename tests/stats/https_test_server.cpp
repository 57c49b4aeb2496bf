#include "tests/stats/https_test_server.h"

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <thread>

#include <nlohmann/json.hpp>

extern char** environ;

namespace kv::test {
namespace {

// Records each POST into request-N.json (written whole, then renamed)
// before it answers with the contents of the files "status" and "body"
// (with the body's bytes alone when the status is "raw").
constexpr const char* kServerScript = R"PY(
import http.server, json, os, ssl, sys, threading, time
directory, certificate, key = sys.argv[1:4]
parent = os.getppid()
def leave_with_parent():
    while os.getppid() == parent:
        time.sleep(0.2)
    os._exit(0)
threading.Thread(target=leave_with_parent, daemon=True).start()
def read(name):
    with open(os.path.join(directory, name), 'rb') as f:
        return f.read()
class Handler(http.server.BaseHTTPRequestHandler):
    count = 0
    def do_POST(self):
        length = int(self.headers.get('Content-Length', '0'))
        body = self.rfile.read(length)
        record = {'method': 'POST', 'path': self.path, 'headers': [[k, v] for k, v in self.headers.items()],
                  'body': body.hex()}
        name = os.path.join(directory, 'request-%d.json' % Handler.count)
        Handler.count += 1
        with open(name + '.tmp', 'w') as f:
            json.dump(record, f)
        os.rename(name + '.tmp', name)
        answer = read('body')
        if read('status') == b'raw':
            self.wfile.write(answer)
            self.close_connection = True
            return
        self.send_response(int(read('status')))
        self.send_header('Content-Length', str(len(answer)))
        self.end_headers()
        self.wfile.write(answer)
    def log_message(self, *args):
        pass
class Server(http.server.HTTPServer):
    def handle_error(self, request, client_address):
        pass  # a client that went away mid-exchange
server = Server(('127.0.0.1', 0), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(certificate, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
with open(os.path.join(directory, 'port.tmp'), 'w') as f:
    f.write(str(server.server_address[1]))
os.rename(os.path.join(directory, 'port.tmp'), os.path.join(directory, 'port'))
server.serve_forever()
)PY";

std::string fromHex(std::string_view hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += char(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    return bytes;
}

}  // namespace

std::optional<std::string> ReceivedRequest::header(std::string_view name) const {
    for (const auto& [field, value] : headers) {
        if (std::equal(field.begin(), field.end(), name.begin(), name.end(),
                       [](char a, char b) { return std::tolower(a) == std::tolower(b); })) {
            return value;
        }
    }
    return std::nullopt;
}

HttpsTestServer::HttpsTestServer() {
    certificate_ = directory_.file("certificate.pem");
    const auto key = directory_.file("key.pem");
    const std::string makeCertificate =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=127.0.0.1"
        " -addext subjectAltName=IP:127.0.0.1 -keyout '" + key.string() + "' -out '" + certificate_.string() +
        "' >/dev/null 2>&1";
    if (std::system(makeCertificate.c_str()) != 0) {
        failure_ = "openssl could not make a certificate";
        return;
    }
    testing::writeBytes(directory_.file("server.py"), kServerScript);
    answer(200, "ok");

    const std::string script = directory_.file("server.py").string();
    const std::string directory = directory_.file("").string();
    const std::string certificate = certificate_.string();
    const std::string keyFile = key.string();
    std::vector<char*> argv{const_cast<char*>("python3"), const_cast<char*>(script.c_str()),
                            const_cast<char*>(directory.c_str()), const_cast<char*>(certificate.c_str()),
                            const_cast<char*>(keyFile.c_str()), nullptr};
    pid_t pid = -1;
    if (::posix_spawnp(&pid, "python3", nullptr, nullptr, argv.data(), environ) != 0) {
        failure_ = "python3 could not be started";
        return;
    }
    pid_ = pid;
    for (int i = 0; i < 2000 && port_ == 0; ++i) {
        const std::string port = testing::readBytes(directory_.file("port"));
        if (!port.empty()) {
            port_ = std::stoi(port);
        } else if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            break;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    if (port_ == 0) failure_ = "the HTTPS server did not come up";
}

HttpsTestServer::~HttpsTestServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

void HttpsTestServer::answer(int status, std::string_view body) {
    testing::writeBytes(directory_.file("body"), std::string(body));
    testing::writeBytes(directory_.file("status"), std::to_string(status));
}

void HttpsTestServer::answerWithBytes(std::string_view bytes) {
    testing::writeBytes(directory_.file("body"), std::string(bytes));
    testing::writeBytes(directory_.file("status"), "raw");
}

std::string HttpsTestServer::url(std::string_view path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

bool HttpsTestServer::waitForRequests(size_t count, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!std::filesystem::exists(directory_.file("request-" + std::to_string(count - 1) + ".json"))) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::vector<ReceivedRequest> HttpsTestServer::requests() const {
    std::vector<ReceivedRequest> requests;
    for (size_t i = 0;; ++i) {
        const auto path = directory_.file("request-" + std::to_string(i) + ".json");
        if (!std::filesystem::exists(path)) return requests;
        const auto record = nlohmann::json::parse(testing::readBytes(path));
        ReceivedRequest request{record["method"], record["path"], {}, fromHex(record["body"].get<std::string>())};
        for (const auto& header : record["headers"]) request.headers.emplace_back(header[0], header[1]);
        requests.push_back(std::move(request));
    }
}

}  // namespace kv::test
