#include "platform/mail/mail.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <gmime/gmime.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <system_error>
#include <utility>

#include "platform/base/error.h"
#include "platform/base/strings.h"

namespace kestrix::mail {

namespace {

constexpr const char* kSource = "Mail";

void InitOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        g_mime_init();
        curl_global_init(CURL_GLOBAL_DEFAULT);
    });
}

// Owns a GObject reference.
template <typename T>
struct GRef {
    T* p = nullptr;
    explicit GRef(T* q) : p(q) {}
    ~GRef() {
        if (p) g_object_unref(p);
    }
    GRef(const GRef&) = delete;
    GRef& operator=(const GRef&) = delete;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error(errnum::E_FAIL, kSource, "The attachment '" + path + "' cannot be read.");
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void AddAddresses(GMimeMessage* message, GMimeAddressType type, const std::string& list) {
    if (Trim(list).empty()) return;
    for (const std::string& address : Addresses(list)) {
        InternetAddress* mailbox = internet_address_mailbox_new(nullptr, address.c_str());
        internet_address_list_add(g_mime_message_get_addresses(message, type), mailbox);
        g_object_unref(mailbox);
    }
}

/// The calling thread's random numbers, seeded once: a random device opened for every
/// message cost a system call and a noticeable share of sending it.
std::mt19937& RandomNumbers() {
    thread_local std::mt19937 engine{std::random_device{}()};
    return engine;
}

std::string UniqueName() {
    static std::atomic<unsigned> counter{0};
    auto now = std::chrono::system_clock::now().time_since_epoch();
    std::ostringstream name;
    name << std::chrono::duration_cast<std::chrono::microseconds>(now).count() << "-" << getpid()
         << "-" << counter++ << "-" << RandomNumbers()() % 100000;
    return name.str();
}

/// The date of a message made now, in local time. The zone is built from the offset the C
/// library already knows, not looked up again in the zone files for every message.
GDateTime* LocalNow() {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&t, &local)) return g_date_time_new_now_local();
    GTimeZone* zone = g_time_zone_new_offset(static_cast<gint32>(local.tm_gmtoff));
    GDateTime* now = g_date_time_new_now(zone);
    g_time_zone_unref(zone);
    return now;
}

/// A message identifier of its own for every message: the time, the process, a counter
/// and random digits, without a random device opened for each one.
std::string MessageId() {
    static std::atomic<unsigned> counter{0};
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    char text[96];
    std::snprintf(text, sizeof text, "%llx.%x.%x.%08x@kestrix.localhost",
                  static_cast<unsigned long long>(std::chrono::duration_cast<std::chrono::microseconds>(now).count()),
                  static_cast<unsigned>(getpid()), counter++, static_cast<unsigned>(RandomNumbers()()));
    return text;
}

/// A file descriptor, closed when the object goes.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    /// Closes now; false (errno set) when the data may not have reached the disk.
    bool Close() { return ::close(std::exchange(fd_, -1)) == 0; }

  private:
    int fd_;
};

/// A temporary file that is removed when the object goes, unless it was renamed into place.
class TemporaryFile {
  public:
    explicit TemporaryFile(std::filesystem::path path) : path_(std::move(path)) {}
    ~TemporaryFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::filesystem::path& path() const { return path_; }
    /// Renames the file to `final`; false (errno set) when that fails (it is then removed).
    bool RenameTo(const std::filesystem::path& final) {
        if (::rename(path_.c_str(), final.c_str()) != 0) return false;
        path_.clear();
        return true;
    }

  private:
    std::filesystem::path path_;
};

std::string WriteToPickup(const std::string& text, const Settings& settings) {
    namespace fs = std::filesystem;
    if (settings.pickupFolder.empty())
        throw Error(errnum::E_FAIL, kSource, "No pickup folder is configured for outgoing mail.");
    auto fail = [&](const std::string& what, int error) {
        return Error(errnum::E_FAIL, kSource,
                     "Cannot " + what + " the message in the pickup folder " +
                         settings.pickupFolder + ": " + std::strerror(error));
    };
    const std::string name = UniqueName();
    const fs::path final = fs::path(settings.pickupFolder) / (name + ".eml");
    const fs::path hidden = fs::path(settings.pickupFolder) / ("." + name + ".tmp");

    // Written under a hidden name and renamed when whole, so that whoever collects the
    // folder never sees half a message; on any failure the hidden file is removed. The
    // folder is made when the first message finds it missing.
    auto create = [&] { return ::open(hidden.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644); };
    int created = create();
    if (created < 0 && errno == ENOENT) {
        std::error_code ec;
        fs::create_directories(settings.pickupFolder, ec);
        if (ec) throw fail("place", ec.value());
        created = create();
    }
    FileDescriptor fd(created);
    if (fd.get() < 0) throw fail("create", errno);
    TemporaryFile temp(hidden);
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd.get(), p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw fail("write", n < 0 ? errno : ENOSPC);
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (!fd.Close()) throw fail("write", errno);
    if (!temp.RenameTo(final)) throw fail("place", errno);
    return final.string();
}

struct Upload {
    const std::string* text;
    size_t offset = 0;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* user) {
    auto* upload = static_cast<Upload*>(user);
    size_t n = std::min(size * count, upload->text->size() - upload->offset);
    std::memcpy(buffer, upload->text->data() + upload->offset, n);
    upload->offset += n;
    return n;
}

std::string SendBySmtp(const Message& message, const std::string& text, const Settings& settings) {
    if (settings.host.empty()) throw Error(errnum::E_FAIL, kSource, "No SMTP server is configured.");
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) throw Error(errnum::E_FAIL, kSource, "Cannot start an SMTP session.");
    const std::string scheme = settings.tls == Settings::Tls::Implicit ? "smtps://" : "smtp://";
    const std::string url = scheme + settings.host + ":" + std::to_string(settings.port) + "/" + settings.heloName;

    std::vector<std::string> recipients;
    for (const std::string* list : {&message.to, &message.cc, &message.bcc})
        if (!Trim(*list).empty())
            for (std::string& a : Addresses(*list)) recipients.push_back(std::move(a));
    if (recipients.empty()) throw Error(errnum::E_FAIL, kSource, "The message has no recipient.");
    std::vector<std::string> from = Addresses(message.from);
    if (from.empty()) throw Error(errnum::E_FAIL, kSource, "The message has no sender.");

    curl_slist* rcpt = nullptr;
    for (const std::string& r : recipients) rcpt = curl_slist_append(rcpt, ("<" + r + ">").c_str());
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> rcptGuard(rcpt, curl_slist_free_all);

    Upload upload{&text};
    char errorText[CURL_ERROR_SIZE] = {0};
    CURL* c = curl.get();
    const std::string mailFrom = "<" + from.front() + ">";
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, mailFrom.c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, ReadUpload);
    curl_easy_setopt(c, CURLOPT_READDATA, &upload);
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, static_cast<long>(settings.timeoutSeconds));
    curl_easy_setopt(c, CURLOPT_TIMEOUT, static_cast<long>(settings.timeoutSeconds));
    // The wait for each of the server's replies has a limit of its own, the final reply to
    // the message included.
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(settings.timeoutSeconds));
    if (settings.tls == Settings::Tls::StartTls) curl_easy_setopt(c, CURLOPT_USE_SSL, CURLUSESSL_ALL);
    if (!settings.user.empty()) {
        curl_easy_setopt(c, CURLOPT_USERNAME, settings.user.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, settings.password.c_str());
    }
    CURLcode rc = curl_easy_perform(c);
    long reply = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &reply);
    if (rc != CURLE_OK) {
        std::string reason = errorText[0] ? errorText : curl_easy_strerror(rc);
        throw Error(errnum::E_FAIL, kSource,
                    "The mail server " + settings.host + ":" + std::to_string(settings.port) +
                        " did not take the message: " + reason +
                        (reply ? " (reply " + std::to_string(reply) + ")" : std::string()));
    }
    return std::to_string(reply);
}

}  // namespace

std::vector<std::string> Addresses(const std::string& list) {
    std::vector<std::string> result;
    std::string normalized = list;
    for (char& ch : normalized)
        if (ch == ';') ch = ',';
    for (const std::string& raw : Split(normalized, ',')) {
        std::string entry = Trim(raw);
        if (entry.empty()) continue;
        size_t open = entry.rfind('<');
        size_t close = entry.rfind('>');
        if (open != std::string::npos && close != std::string::npos && close > open)
            entry = Trim(entry.substr(open + 1, close - open - 1));
        if (entry.find('@') == std::string::npos || entry.find_first_of(" \r\n\t<>") != std::string::npos)
            throw Error(errnum::E_FAIL, kSource, "'" + Trim(raw) + "' is not an e-mail address.");
        result.push_back(entry);
    }
    return result;
}

std::string Compose(const Message& message) {
    InitOnce();
    GRef<GMimeMessage> mime(g_mime_message_new(TRUE));
    AddAddresses(mime.p, GMIME_ADDRESS_TYPE_FROM, message.from);
    AddAddresses(mime.p, GMIME_ADDRESS_TYPE_TO, message.to);
    AddAddresses(mime.p, GMIME_ADDRESS_TYPE_CC, message.cc);
    g_mime_message_set_subject(mime.p, message.subject.c_str(), "utf-8");
    GDateTime* now = LocalNow();
    g_mime_message_set_date(mime.p, now);
    g_date_time_unref(now);
    g_mime_message_set_message_id(mime.p, MessageId().c_str());

    GRef<GMimeTextPart> body(g_mime_text_part_new_with_subtype("plain"));
    // The text goes in as the UTF-8 it is. Setting it as text would let the library
    // re-encode it into a narrower character set, which then no longer matches the
    // charset named here.
    {
        GRef<GMimeStream> stream(
            g_mime_stream_mem_new_with_buffer(message.textBody.data(), message.textBody.size()));
        GRef<GMimeDataWrapper> content(
            g_mime_data_wrapper_new_with_stream(stream.p, GMIME_CONTENT_ENCODING_DEFAULT));
        g_mime_part_set_content(GMIME_PART(body.p), content.p);
    }
    g_mime_text_part_set_charset(body.p, "utf-8");
    g_mime_part_set_content_encoding(
        GMIME_PART(body.p),
        g_mime_part_get_best_content_encoding(GMIME_PART(body.p), GMIME_ENCODING_CONSTRAINT_7BIT));

    if (message.attachments.empty()) {
        g_mime_message_set_mime_part(mime.p, GMIME_OBJECT(body.p));
    } else {
        GRef<GMimeMultipart> mixed(g_mime_multipart_new_with_subtype("mixed"));
        g_mime_multipart_add(mixed.p, GMIME_OBJECT(body.p));
        for (const Attachment& a : message.attachments) {
            const std::string data = ReadFile(a.path);
            GRef<GMimePart> part(g_mime_part_new_with_type("application", "octet-stream"));
            const std::string name = std::filesystem::path(a.path).filename().string();
            g_mime_part_set_filename(part.p, name.c_str());
            if (!a.charset.empty())
                g_mime_object_set_content_type_parameter(GMIME_OBJECT(part.p), "charset", a.charset.c_str());
            GRef<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(data.data(), data.size()));
            GRef<GMimeDataWrapper> content(
                g_mime_data_wrapper_new_with_stream(stream.p, GMIME_CONTENT_ENCODING_DEFAULT));
            g_mime_part_set_content(part.p, content.p);
            g_mime_part_set_content_encoding(part.p, GMIME_CONTENT_ENCODING_BASE64);
            g_mime_multipart_add(mixed.p, GMIME_OBJECT(part.p));
        }
        g_mime_message_set_mime_part(mime.p, GMIME_OBJECT(mixed.p));
    }
    gchar* text = g_mime_object_to_string(GMIME_OBJECT(mime.p), nullptr);
    std::string result = text ? text : "";
    g_free(text);
    return result;
}

std::string Send(const Message& message, const Settings& settings) {
    std::string text = Compose(message);
    if (settings.mode == Settings::Mode::Pickup) {
        // A pickup file carries its envelope recipients, so that Bcc is not lost.
        std::string envelope;
        if (!Trim(message.bcc).empty()) {
            for (const std::string& a : Addresses(message.bcc)) envelope += "X-Envelope-Bcc: " + a + "\r\n";
        }
        return WriteToPickup(envelope + text, settings);
    }
    return SendBySmtp(message, text, settings);
}

}  // namespace kestrix::mail
