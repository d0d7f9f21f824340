#include "tests/peers/transfer_peers.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace kestrix::test {

TestCertificate::TestCertificate()
    : cert_(dir_.path() / "cert.pem"), key_(dir_.path() / "key.pem") {
    std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
        " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1,DNS:localhost"
        " -keyout '" +
        key_.string() + "' -out '" + cert_.string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0 || !std::filesystem::exists(cert_))
        throw std::runtime_error(
            "openssl could not make a test certificate (is openssl installed?)");
}

FtpServer::FtpServer(const Options& options) {
    std::vector<std::string> args{root_.path().string(), kUser, kPassword,
                                  (work_.path() / "stored").string()};
    if (options.tls != Tls::None) {
        if (!options.certificate)
            throw std::logic_error("an FTP server with TLS needs a certificate");
        args.insert(args.end(), {"--tls", options.tls == Tls::Explicit ? "explicit" : "implicit",
                                 "--cert", options.certificate->certFile().string(), "--key",
                                 options.certificate->keyFile().string()});
    }
    if (options.throttle > 0)
        args.insert(args.end(), {"--throttle", std::to_string(options.throttle)});
    if (options.refuseRename) args.push_back("--no-rename");
    process_ = std::make_unique<PeerProcess>(
        PeerScript("ftp_peer.py"), args, "are python3-pyftpdlib and python3-openssl installed?");
}

std::string FtpServer::Url(const std::string& scheme, const std::string& folder) const {
    return scheme + "://127.0.0.1:" + std::to_string(port()) + folder;
}

std::vector<std::string> FtpServer::Stored() const {
    std::vector<std::string> lines;
    std::ifstream in(work_.path() / "stored");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

SftpServer::SftpServer(bool refuseRename) {
    std::vector<std::string> args{root_.path().string(), work_.path().string(), kUser, kPassword};
    if (refuseRename) args.push_back("--no-rename");
    process_ = std::make_unique<PeerProcess>(PeerScript("sftp_peer.py"), args,
                                             "is python3-asyncssh installed?");
}

std::string SftpServer::Url(const std::string& folder) const {
    return "sftp://127.0.0.1:" + std::to_string(port()) + folder;
}

TlsFront::TlsFront(const TestCertificate& certificate, int targetPort)
    : process_(PeerScript("tls_relay.py"),
               {certificate.certFile().string(), certificate.keyFile().string(),
                std::to_string(targetPort)},
               "python3 with its ssl module") {}

std::string TlsFront::Url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port()) + path;
}

}  // namespace kestrix::test

namespace kestrix::test {

std::vector<std::string> FilesUnder(const std::filesystem::path& root) {
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file())
            files.push_back(std::filesystem::relative(it->path(), root).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace kestrix::test
