// SPDX-License-Identifier: GPL-2.0-or-later
#include "HttpsTestServer.h"

#include "fakes/Eventually.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tavrin::testing {

namespace {

void run(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

std::string quoted(const std::filesystem::path& p) {
    return "'" + p.string() + "'";
}

const char* kServerScript = R"PY(
import http.server, os, ssl, sys, threading, time
docroot, cert, key, portfile, logfile = sys.argv[1:6]
parent = os.getppid()

class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=docroot, **kwargs)
    def do_GET(self):
        with open(logfile, 'a') as log:
            log.write('%s %s\n' % (self.headers.get('User-Agent', ''), self.path))
        redirect = os.path.join(docroot, 'redirect')
        if self.path.startswith('/tavrin/') and os.path.exists(redirect):
            with open(redirect) as f:
                target = f.read().strip()
            self.send_response(302)
            self.send_header('Location', target)
            self.send_header('Content-Length', '0')
            self.end_headers()
            return
        super().do_GET()
    def log_message(self, *args):
        pass

def watch_parent():
    while os.getppid() == parent:
        time.sleep(0.5)
    os._exit(0)

threading.Thread(target=watch_parent, daemon=True).start()
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
with open(portfile + '.tmp', 'w') as f:
    f.write(str(server.server_address[1]))
os.rename(portfile + '.tmp', portfile)
server.serve_forever()
)PY";

} // namespace

TestCertificates::TestCertificates(const std::filesystem::path& folder) : folder_(folder) {
    std::filesystem::create_directories(folder_);
    run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
        " -subj '/CN=Tavrin Capture test CA' -keyout " +
        quoted(folder_ / "ca.key") + " -out " + quoted(folder_ / "ca.pem"));
}

void TestCertificates::makeServer(const std::string& name, const std::string& subjectAltName) const {
    const auto ext = folder_ / (name + ".ext");
    std::ofstream(ext) << "subjectAltName=" << subjectAltName
                       << "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n";
    run("openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj '/CN=" + name +
        "' -keyout " + quoted(folder_ / (name + ".key")) + " -out " + quoted(folder_ / (name + ".csr")));
    run("openssl x509 -req -days 2 -in " + quoted(folder_ / (name + ".csr")) + " -CA " +
        quoted(folder_ / "ca.pem") + " -CAkey " + quoted(folder_ / "ca.key") + " -CAcreateserial -extfile " +
        quoted(ext) + " -out " + quoted(folder_ / (name + ".pem")));
}

HttpsTestServer::HttpsTestServer(const std::filesystem::path& folder, const std::string& certFile,
                                 const std::string& keyFile)
    : folder_(folder), docroot_(folder / "docroot") {
    std::filesystem::create_directories(docroot_);
    const auto script = folder_ / "server.py";
    std::ofstream(script) << kServerScript;
    const auto portFile = folder_ / "port";
    std::filesystem::remove(portFile);

    std::vector<std::string> args = {"python3",
                                     script.string(),
                                     docroot_.string(),
                                     certFile,
                                     keyFile,
                                     portFile.string(),
                                     (folder_ / "requests.log").string()};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawnp(&pid_, "python3", nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start python3");

    bool ended = false;
    const bool up = eventually(
        [&] {
            ended = ::waitpid(pid_, nullptr, WNOHANG) == pid_;
            return ended || std::filesystem::exists(portFile);
        },
        std::chrono::seconds(20));
    if (ended) {
        pid_ = -1;
        throw std::runtime_error("the HTTPS test server ended at start");
    }
    if (!up)
        throw std::runtime_error("the HTTPS test server did not start");
    std::ifstream(portFile) >> port_;
}

HttpsTestServer::~HttpsTestServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

void HttpsTestServer::serve(const std::string& path, const std::string& body) const {
    const auto file = docroot_ / path;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << body;
}

std::string HttpsTestServer::requestLog() const {
    std::ifstream in(folder_ / "requests.log");
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void HttpsTestServer::clearLog() const {
    std::filesystem::remove(folder_ / "requests.log");
}

} // namespace tavrin::testing
