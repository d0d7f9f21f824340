// The mailboxes on an IMAP or POP3 server, read through libcurl. One transfer handle per
// mailbox keeps one connection and one login for the whole run.
#include <curl/curl.h>

#include <charconv>
#include <map>
#include <mutex>
#include <sstream>

#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/mail/mailbox_remote.h"

namespace kestrix::mail::detail {

namespace {

constexpr const char* kSource = "Mail.Mailbox";


size_t Collect(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

std::string Escaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

/// The numbers of an untagged answer line ("* SEARCH 4 7 9" after "SEARCH").
std::vector<uint64_t> NumbersAfter(const std::string& answer, const std::string& keyword) {
    std::vector<uint64_t> numbers;
    std::istringstream lines(answer);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t at = line.find(keyword);
        if (line.rfind("* ", 0) != 0 || at == std::string::npos) continue;
        std::istringstream words(line.substr(at + keyword.size()));
        std::string word;
        while (words >> word) {
            uint64_t n = 0;
            const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), n);
            if (ec == std::errc() && end == word.data() + word.size()) numbers.push_back(n);
        }
    }
    return numbers;
}

/// One session with the server; every exchange goes over the same connection.
class RemoteMailbox : public Mailbox {
  public:
    explicit RemoteMailbox(const MailboxSettings& settings) : settings_(settings) {
        EnsureCurl();
        imap_ = settings.protocol == MailboxSettings::Protocol::Imap;
        if (Trim(settings.host).empty())
            throw Error(errnum::E_FAIL, kSource, std::string("No ") + (imap_ ? "IMAP" : "POP3") + " server is configured.");
        const bool implicitTls = settings.tls == MailboxSettings::Tls::Implicit;
        const std::string scheme = imap_ ? (implicitTls ? "imaps" : "imap") : (implicitTls ? "pop3s" : "pop3");
        std::string hostPort = settings.host;
        if (settings.port > 0) hostPort += ":" + std::to_string(settings.port);
        base_ = scheme + "://" + hostPort + "/";
        name_ = scheme + "://" + Escaped(settings.user) + "@" + hostPort + "/" + (imap_ ? settings.imapFolder : "");
        handle_.reset(curl_easy_init());
        if (!handle_) throw Error(errnum::E_FAIL, kSource, "Cannot start a session with " + name_ + ".");
        // The log-on: an exchange that needs the login and changes nothing.
        Perform("log on to", "", "NOOP", true);
    }

    std::vector<std::string> List() override {
        std::vector<std::string> ids;
        if (imap_) {
            const std::string folder = settings_.imapFolder;
            const std::string status =
                Perform("open the folder " + folder + " of", "", "STATUS \"" + Quoted(folder) + "\" (UIDVALIDITY)", false);
            const std::vector<uint64_t> validity = NumbersAfter(ReplaceAll(status, ")", " "), "UIDVALIDITY");
            if (validity.empty())
                throw Error(errnum::E_FAIL, kSource, "The server " + name_ + " did not tell the folder's UIDVALIDITY.");
            validity_ = std::to_string(validity.front());
            const std::string search = Perform("list the messages of", Escaped(folder), "UID SEARCH ALL", false);
            for (uint64_t uid : NumbersAfter(search, "SEARCH")) ids.push_back(validity_ + "/" + std::to_string(uid));
        } else {
            numbers_.clear();
            const std::string listing = Perform("list the messages of", "", "UIDL", false);
            std::istringstream lines(listing);
            std::string line;
            while (std::getline(lines, line)) {
                std::istringstream words(line);
                std::string number, unique;
                if (!(words >> number >> unique)) continue;
                if (number.find_first_not_of("0123456789") != std::string::npos) continue;
                numbers_[unique] = number;
                ids.push_back(unique);
            }
        }
        return ids;
    }

    std::string Fetch(const std::string& id) override {
        if (imap_) return Perform("fetch the message " + id + " of", Escaped(settings_.imapFolder) + "/;UID=" + Uid(id), "", false);
        return Perform("fetch the message " + id + " of", Number(id), "", false);
    }

    void Delete(const std::string& id) override {
        if (imap_) {
            Perform("delete the message " + id + " of", Escaped(settings_.imapFolder),
                    "UID STORE " + Uid(id) + " +FLAGS.SILENT (\\Deleted)", false);
        } else {
            Perform("delete the message " + id + " of", Number(id), "DELE", true);
        }
        deleted_ = true;
    }

    void Close() override {
        if (!handle_) return;
        if (imap_ && deleted_) Perform("remove the deleted messages of", Escaped(settings_.imapFolder), "EXPUNGE", false);
        // Ending the session sends LOGOUT or QUIT; POP3 removes the deleted messages then.
        handle_.reset();
    }

    std::string Name() const override { return name_; }

  private:
    static std::string Quoted(const std::string& text) {
        return ReplaceAll(ReplaceAll(text, "\\", "\\\\"), "\"", "\\\"");
    }

    std::string Uid(const std::string& id) const {
        const size_t slash = id.find('/');
        if (slash == std::string::npos || id.substr(0, slash) != validity_ ||
            id.find_first_not_of("0123456789", slash + 1) != std::string::npos)
            throw Error(errnum::E_FAIL, kSource, "The mailbox " + name_ + " has no message " + id + ".");
        return id.substr(slash + 1);
    }

    std::string Number(const std::string& id) const {
        auto it = numbers_.find(id);
        if (it == numbers_.end()) throw Error(errnum::E_FAIL, kSource, "The mailbox " + name_ + " has no message " + id + ".");
        return it->second;
    }

    /// One exchange: `path` after the base address, `command` as the request ("" for the
    /// protocol's own: a listing or the message), `noBody` for commands answered by one
    /// line. Answers what the server sent.
    std::string Perform(const std::string& step, const std::string& path, const std::string& command, bool noBody) {
        if (!handle_) throw Error(errnum::E_FAIL, kSource, "The session with " + name_ + " is closed.");
        CURL* c = handle_.get();
        curl_easy_reset(c);
        std::string answer;
        char errorText[CURL_ERROR_SIZE] = {0};
        const std::string url = base_ + path;
        const long timeout = settings_.timeoutSeconds > 0 ? settings_.timeoutSeconds : 30;
        curl_easy_setopt(c, CURLOPT_URL, url.c_str());
        curl_easy_setopt(c, CURLOPT_USERNAME, settings_.user.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, settings_.password.c_str());
        curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorText);
        curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, timeout);
        curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout);
        // A whole exchange may carry a large message: it has a longer limit of its own.
        curl_easy_setopt(c, CURLOPT_TIMEOUT, timeout * 10);
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Collect);
        curl_easy_setopt(c, CURLOPT_WRITEDATA, &answer);
        if (settings_.tls == MailboxSettings::Tls::StartTls) curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        if (!settings_.caFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, settings_.caFile.c_str());
        if (!command.empty()) curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, command.c_str());
        if (noBody) curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
        const CURLcode rc = curl_easy_perform(c);
        if (rc != CURLE_OK) {
            std::string reason = errorText[0] ? errorText : curl_easy_strerror(rc);
            if (!settings_.password.empty() && settings_.password.size() >= 4)
                reason = ReplaceAll(reason, settings_.password, "***");
            if (rc == CURLE_LOGIN_DENIED) reason = "the server refused the login (" + reason + ")";
            throw Error(errnum::E_FAIL, kSource, "Cannot " + step + " the mailbox " + name_ + ": " + Trim(reason) + ".");
        }
        return answer;
    }

    struct Cleanup {
        void operator()(CURL* c) const noexcept { curl_easy_cleanup(c); }
    };

    MailboxSettings settings_;
    bool imap_ = true;
    std::string base_;
    std::string name_;
    std::unique_ptr<CURL, Cleanup> handle_;
    std::string validity_;
    std::map<std::string, std::string> numbers_;
    bool deleted_ = false;
};

}  // namespace

std::unique_ptr<Mailbox> OpenRemoteMailbox(const MailboxSettings& settings) {
    return std::make_unique<RemoteMailbox>(settings);
}

void EnsureCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace kestrix::mail::detail
