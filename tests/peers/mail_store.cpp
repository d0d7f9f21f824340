#include "tests/peers/mail_store.h"

#include <unistd.h>

#include <atomic>

namespace kestrix::test {

MailStoreServer::MailStoreServer(Protocol protocol, const TestCertificate* certificate)
    : maildir_(work_.path() / "Maildir") {
    std::vector<std::string> args{work_.path().string(), protocol == Protocol::Imap ? "imap" : "pop3", kUser,
                                  kPassword, maildir_.string()};
    if (certificate) {
        args.push_back(certificate->certFile().string());
        args.push_back(certificate->keyFile().string());
    }
    process_ = std::make_unique<PeerProcess>(PeerScript("mail_store_peer.py"), args,
                                             "install dovecot-imapd and dovecot-pop3d (scripts/bootstrap)");
}

void MailStoreServer::Deliver(const std::string& message) const {
    static std::atomic<unsigned> counter{0};
    const std::string name = std::to_string(::time(nullptr)) + ".M" + std::to_string(counter++) + "P" +
                             std::to_string(::getpid()) + ".kestrix-test";
    WriteAll(maildir_ / "tmp" / name, message);
    std::filesystem::rename(maildir_ / "tmp" / name, maildir_ / "new" / name);
}

size_t MailStoreServer::Count() const {
    size_t n = 0;
    for (const char* sub : {"new", "cur"})
        for (const auto& e : std::filesystem::directory_iterator(maildir_ / sub))
            if (e.is_regular_file()) ++n;
    return n;
}

std::string MailStoreServer::Log() const { return ReadAll(work_.path() / "dovecot.log"); }

}  // namespace kestrix::test
