#include "tests/support/curl_client.h"

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace kestrix::test {

namespace {

std::string Quoted(const std::string& word) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

CurlAnswer Curl(const std::vector<std::string>& arguments) {
    char bodyFile[] = "/tmp/kestrix-curl-XXXXXX";
    const int fd = ::mkstemp(bodyFile);
    if (fd >= 0) ::close(fd);
    std::string command = "curl -s --max-time 20 -o " + Quoted(bodyFile) + " -w '%{http_code}'";
    for (const std::string& argument : arguments) command += " " + Quoted(argument);
    CurlAnswer answer;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char code[16] = {};
        const size_t n = std::fread(code, 1, sizeof code - 1, pipe);
        ::pclose(pipe);
        answer.status = n > 0 ? std::atoi(std::string(code, n).c_str()) : 0;
    }
    std::ifstream in(bodyFile, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    answer.body = text.str();
    ::unlink(bodyFile);
    return answer;
}

bool MakeCertificate(const std::string& folder, std::string& certificate, std::string& key) {
    certificate = folder + "/server.crt";
    key = folder + "/server.key";
    const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost "
                                "-addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout " +
                                Quoted(key) + " -out " + Quoted(certificate) + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return status == 0 && ::access(certificate.c_str(), R_OK) == 0;
}

}  // namespace kestrix::test
