#include "platform/mail/mail.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/mail/mailbox_remote.h"

namespace kestrix::mail {

namespace {

constexpr const char* kSource = "Mail";


std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error(errnum::E_FAIL, kSource, "The attachment '" + path + "' cannot be read.");
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
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

// The message is written as text directly, line by line, with LF line breaks; the lines of
// a header are folded to stay within this many characters where they can.
constexpr size_t kFoldWidth = 78;
// No line of a message may be longer than this (without its line break).
constexpr size_t kMaxLine = 998;
constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHex[] = "0123456789ABCDEF";

/// The date of a message made now, in local time with its offset ("Tue, 08 Dec 2026
/// 23:55:18 +0100"); day and month names are English whatever the locale.
std::string DateNow() {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&t, &local)) gmtime_r(&t, &local);
    const long offset = local.tm_gmtoff / 60;
    const long magnitude = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", kDays[local.tm_wday % 7],
                  local.tm_mday, kMonths[local.tm_mon % 12], local.tm_year + 1900, local.tm_hour, local.tm_min,
                  local.tm_sec, offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return text;
}

/// Base64 of the bytes in lines of 76 characters, each ended by a line break.
void AppendBase64(std::string& out, std::string_view data) {
    out.reserve(out.size() + data.size() * 4 / 3 + data.size() / 57 + 4);
    size_t i = 0;
    while (i < data.size()) {
        const size_t line = std::min<size_t>(57, data.size() - i);  // 57 bytes give 76 characters
        const size_t end = i + line;
        for (; i + 3 <= end; i += 3) {
            const auto a = static_cast<unsigned char>(data[i]);
            const auto b = static_cast<unsigned char>(data[i + 1]);
            const auto c = static_cast<unsigned char>(data[i + 2]);
            out += kBase64[a >> 2];
            out += kBase64[((a & 0x03) << 4) | (b >> 4)];
            out += kBase64[((b & 0x0f) << 2) | (c >> 6)];
            out += kBase64[c & 0x3f];
        }
        if (i < end) {
            const auto a = static_cast<unsigned char>(data[i]);
            const unsigned b = i + 1 < end ? static_cast<unsigned char>(data[i + 1]) : 0;
            out += kBase64[a >> 2];
            out += kBase64[((a & 0x03) << 4) | (b >> 4)];
            out += i + 1 < end ? kBase64[(b & 0x0f) << 2] : '=';
            out += '=';
            i = end;
        }
        out += '\n';
    }
}

/// Quoted-printable text (lines of at most 76 characters): a line break of the text (CR LF
/// or LF) stays a line break, blanks before one are encoded, and so are "=" and every byte
/// that is not printable ASCII.
void AppendQuotedPrintable(std::string& out, std::string_view text) {
    size_t column = 0;
    auto put = [&](std::string_view piece) {
        if (column + piece.size() > 75) {
            out += "=\n";
            column = 0;
        }
        out += piece;
        column += piece.size();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            if (c == '\r') ++i;
            out += '\n';
            column = 0;
            continue;
        }
        // A blank before a line break or a CR is encoded, so that no reader drops it.
        const bool lineEnds = i + 1 == text.size() || text[i + 1] == '\n' || text[i + 1] == '\r';
        const bool blank = c == ' ' || c == '\t';
        if ((c >= 33 && c <= 126 && c != '=') || (blank && !lineEnds)) {
            const char plain[1] = {static_cast<char>(c)};
            put(std::string_view(plain, 1));
        } else {
            const char escaped[3] = {'=', kHex[c >> 4], kHex[c & 0x0f]};
            put(std::string_view(escaped, 3));
        }
    }
    // A text that ends with an encoded blank or CR ends with a soft line break.
    if (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) out += "=\n";
}

/// The text with CR LF line breaks written as LF, as the rest of the message is.
void AppendWithLineFeeds(std::string& out, std::string_view text) {
    out.reserve(out.size() + text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
}

enum class Transfer { SevenBit, QuotedPrintable, Base64 };

/// The transfer encoding for a text in seven bits: as it is when it is ASCII in lines that
/// fit, none of which begins with "From " (which a mailbox file would take for the start of
/// a message); base64 when it holds a NUL byte or 17 % or more of it lies beyond ASCII;
/// otherwise quoted-printable.
Transfer TransferFor(std::string_view text) {
    size_t high = 0, longest = 0, line = 0;
    bool nul = false, from = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            longest = std::max(longest, line);
            line = 0;
            continue;
        }
        if (line == 0 && c == 'F' && text.substr(i, 5) == "From ") from = true;
        ++line;
        if (c >= 0x80) ++high;
        if (c == 0) nul = true;
    }
    longest = std::max(longest, line);
    if (nul) return Transfer::Base64;
    if (high > 0)
        return high >= static_cast<size_t>(static_cast<double>(text.size()) * 0.17) ? Transfer::Base64
                                                                                     : Transfer::QuotedPrintable;
    return longest > kMaxLine || from ? Transfer::QuotedPrintable : Transfer::SevenBit;
}

/// Whether a word of a header must travel as an encoded word: it holds a byte beyond ASCII
/// or a control character, could be read as an encoded word itself, or is too long for a line.
bool NeedsEncoding(std::string_view word) {
    if (word.size() > kMaxLine - 100) return true;
    if (word.starts_with("=?") && word.ends_with("?=")) return true;
    for (char ch : word) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x7f || c < 0x20) return true;
    }
    return false;
}

/// "Name: value" and its line break, folded before a blank of the value wherever the line
/// would grow beyond 78 characters; unfolding gives the value back as it was.
void AppendFolded(std::string& out, std::string_view name, std::string_view value) {
    out += name;
    out += ": ";
    size_t column = name.size() + 2;
    for (size_t i = 0; i < value.size();) {
        size_t next = value.find(' ', i + 1);
        if (next == std::string_view::npos) next = value.size();
        const size_t length = next - i;
        if (value[i] == ' ' && column + length > kFoldWidth && column > name.size() + 2) {
            out += '\n';
            column = 0;
        }
        out.append(value, i, length);
        column += length;
        i = next;
    }
    out += '\n';
}

/// The UTF-8 text as "=?UTF-8?B?...?=" words of at most 72 characters separated by blanks,
/// never splitting a character between two words.
std::string EncodedWords(std::string_view text) {
    constexpr size_t kBytesPerWord = 45;  // 60 base64 characters plus "=?UTF-8?B?" and "?="
    std::string words;
    size_t i = 0;
    while (i < text.size()) {
        size_t end = std::min(text.size(), i + kBytesPerWord);
        // Back up to the start of a character (a byte that is not a continuation byte).
        while (end < text.size() && end > i + 1 && (static_cast<unsigned char>(text[end]) & 0xc0) == 0x80) --end;
        if (!words.empty()) words += ' ';
        words += "=?UTF-8?B?";
        AppendBase64(words, text.substr(i, end - i));
        words.back() = '?';  // in place of the line break
        words += '=';
        i = end;
    }
    return words;
}

/// An unstructured header (the subject): words in plain ASCII stay as they are; the run from
/// the first word that needs encoding to the last one, blanks between included, goes as
/// encoded words.
void AppendUnstructured(std::string& out, std::string_view name, std::string_view text) {
    // Blanks and line breaks at either end are not part of the value.
    const std::string trimmed = Trim(text);
    const std::string_view value = trimmed;
    size_t first = std::string_view::npos, last = 0;  // the run's first byte and its end
    for (size_t start = 0; start <= value.size();) {
        size_t blank = value.find(' ', start);
        if (blank == std::string_view::npos) blank = value.size();
        if (NeedsEncoding(value.substr(start, blank - start))) {
            if (first == std::string_view::npos) first = start;
            last = blank;
        }
        start = blank + 1;
    }
    if (first == std::string_view::npos) return AppendFolded(out, name, value);
    std::string line(value.substr(0, first));
    line += EncodedWords(value.substr(first, last - first));
    line += value.substr(last);
    AppendFolded(out, name, line);
}

/// An address header (From, To, Cc) with the plain addresses of the list.
void AppendAddresses(std::string& out, std::string_view name, const std::string& list) {
    if (Trim(list).empty()) return;
    std::string text;
    for (const std::string& address : Addresses(list)) {
        if (!text.empty()) text += ", ";
        text += address;
    }
    AppendFolded(out, name, text);
}

bool IsTokenCharacter(unsigned char c) {
    if (c <= 0x20 || c >= 0x7f) return false;
    return std::string_view("()<>@,;:\\\"/[]?=").find(static_cast<char>(c)) == std::string_view::npos;
}

/// A header with a value and parameters ("Content-Type: application/octet-stream;
/// name=..."). A parameter in printable ASCII goes as a token or a quoted string; one beyond
/// ASCII, with control characters or too long for a line goes in the extended form with a
/// character set and continuations ("name*0*=utf-8''Gr%C3%BC...; name*1*=...").
void AppendParameterHeader(std::string& out, std::string_view name, std::string_view value,
                           const std::vector<std::pair<std::string, std::string>>& parameters) {
    std::string line = std::string(name) + ": " + std::string(value);
    for (const auto& [key, text] : parameters) {
        bool printable = text.size() < kMaxLine - key.size() - 8, token = !text.empty();
        for (char ch : text) {
            const auto c = static_cast<unsigned char>(ch);
            if (c < 0x20 || c >= 0x7f) printable = false;
            if (!IsTokenCharacter(c)) token = false;
        }
        std::vector<std::string> pieces;
        if (printable) {
            std::string piece = key + "=";
            if (token) {
                piece += text;
            } else {
                piece += '"';
                for (char ch : text) {
                    if (ch == '"' || ch == '\\') piece += '\\';
                    piece += ch;
                }
                piece += '"';
            }
            pieces.push_back(std::move(piece));
        } else {
            std::string encoded = "utf-8''";
            std::vector<std::string> sections;
            for (char ch : text) {
                const auto c = static_cast<unsigned char>(ch);
                if (IsTokenCharacter(c) && c != '%' && c != '\'' && c != '*') {
                    encoded += static_cast<char>(c);
                } else {
                    encoded += '%';
                    encoded += kHex[c >> 4];
                    encoded += kHex[c & 0x0f];
                }
                if (encoded.size() >= 60) sections.push_back(std::exchange(encoded, {}));
            }
            if (!encoded.empty() || sections.empty()) sections.push_back(std::move(encoded));
            for (size_t i = 0; i < sections.size(); ++i)
                pieces.push_back(key + "*" + std::to_string(i) + "*=" + sections[i]);
        }
        for (const std::string& piece : pieces) {
            const size_t column = line.size() - (line.rfind('\n') == std::string::npos ? 0 : line.rfind('\n') + 1);
            line += ';';
            line += column + 2 + piece.size() > kFoldWidth ? "\n\t" : " ";
            line += piece;
        }
    }
    out += line;
    out += '\n';
}

/// A boundary that none of the parts holds: the encoded parts cannot hold "=-" at all, and a
/// text part in seven bits is searched.
std::string BoundaryFor(std::string_view plainText) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (;;) {
        std::string boundary = "=-";
        for (int i = 0; i < 20; ++i) boundary += kAlphabet[RandomNumbers()() % 62];
        if (plainText.find(boundary) == std::string_view::npos) return boundary;
    }
}

/// The headers and content of the text part; `single` when it is the whole message body.
void AppendTextPart(std::string& out, std::string_view text, Transfer transfer, bool single) {
    out += "Content-Type: text/plain; charset=utf-8\n";
    if (transfer == Transfer::QuotedPrintable) out += "Content-Transfer-Encoding: quoted-printable\n";
    if (transfer == Transfer::Base64) out += "Content-Transfer-Encoding: base64\n";
    out += '\n';
    const size_t start = out.size();
    switch (transfer) {
        case Transfer::SevenBit: AppendWithLineFeeds(out, text); break;
        case Transfer::QuotedPrintable: AppendQuotedPrintable(out, text); break;
        case Transfer::Base64: AppendBase64(out, text); break;
    }
    // A message that is only text ends with a line break, as its mails always did.
    if (single && out.size() > start && out.back() != '\n') out += '\n';
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
    detail::EnsureCurl();
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
    // Attachments are read first: a file that cannot be read stops the message before any of it.
    std::vector<std::pair<std::string, std::string>> files;
    for (const Attachment& a : message.attachments)
        files.emplace_back(std::filesystem::path(a.path).filename().string(), ReadFile(a.path));

    std::string out;
    size_t size = 1024 + message.textBody.size() * 2;
    for (const auto& file : files) size += 256 + file.second.size() * 4 / 3 + file.second.size() / 57;
    out.reserve(size);

    out += "Date: " + DateNow() + "\n";
    AppendAddresses(out, "From", message.from);
    AppendUnstructured(out, "Subject", message.subject);
    AppendAddresses(out, "To", message.to);
    AppendAddresses(out, "Cc", message.cc);
    out += "Message-Id: <" + MessageId() + ">\n";
    out += "MIME-Version: 1.0\n";

    const Transfer transfer = TransferFor(message.textBody);
    if (files.empty()) {
        AppendTextPart(out, message.textBody, transfer, true);
        return out;
    }
    const std::string boundary =
        BoundaryFor(transfer == Transfer::SevenBit ? std::string_view(message.textBody) : std::string_view());
    out += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\n\n";
    out += "--" + boundary + "\n";
    AppendTextPart(out, message.textBody, transfer, false);
    for (size_t i = 0; i < files.size(); ++i) {
        const Attachment& a = message.attachments[i];
        out += "\n--" + boundary + "\n";
        std::vector<std::pair<std::string, std::string>> parameters{{"name", files[i].first}};
        if (!a.charset.empty()) parameters.emplace_back("charset", a.charset);
        AppendParameterHeader(out, "Content-Type", "application/octet-stream", parameters);
        AppendParameterHeader(out, "Content-Disposition", "attachment", {{"filename", files[i].first}});
        out += "Content-Transfer-Encoding: base64\n\n";
        AppendBase64(out, files[i].second);
    }
    out += "\n--" + boundary + "--\n";
    return out;
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
