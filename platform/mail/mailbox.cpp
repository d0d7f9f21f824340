// Reading received mail: the MIME parser of the mailbox import and the local mail folder (a
// Maildir, or a folder of .eml files as a local mail server delivers them).
#include "platform/mail/mailbox.h"

#include <gmime/gmime.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/mail/mailbox_remote.h"

namespace kestrix::mail {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSource = "Mail.Mailbox";
constexpr const char* kParseSource = "Mail.Mailbox.Parse";

void InitMime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

/// Owns one GObject reference.
struct GObjectRef {
    explicit GObjectRef(gpointer p) : p(p) {}
    ~GObjectRef() {
        if (p) g_object_unref(p);
    }
    GObjectRef(const GObjectRef&) = delete;
    GObjectRef& operator=(const GObjectRef&) = delete;
    gpointer p;
};

/// The decoded content of a leaf part.
std::string DecodedContent(GMimePart* part) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content) return {};
    GObjectRef memory(g_mime_stream_mem_new());
    GMimeStream* stream = GMIME_STREAM(memory.p);
    if (g_mime_data_wrapper_write_to_stream(content, stream) < 0)
        throw Error(errnum::E_FAIL, kParseSource, "The content of an attached part cannot be decoded.");
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
}

std::string PartName(GMimeObject* part) {
    const char* name = g_mime_object_get_content_disposition_parameter(part, "filename");
    if (!name) name = g_mime_object_get_content_type_parameter(part, "name");
    return name ? std::string(name) : std::string();
}

bool MarkedAsAttachment(GMimeObject* part) {
    GMimeContentDisposition* disposition = g_mime_object_get_content_disposition(part);
    return disposition && g_mime_content_disposition_is_attachment(disposition);
}

void CollectAttachments(GMimeObject* part, std::vector<ReceivedAttachment>& out, int depth) {
    // A structure nested deeper than any mail program makes is not followed further.
    if (!part || depth > 32) return;
    if (GMIME_IS_MULTIPART(part)) {
        GMimeMultipart* multipart = GMIME_MULTIPART(part);
        const int count = g_mime_multipart_get_count(multipart);
        for (int i = 0; i < count; ++i)
            CollectAttachments(g_mime_multipart_get_part(multipart, i), out, depth + 1);
        return;
    }
    const std::string name = PartName(part);
    if (name.empty() && !MarkedAsAttachment(part)) return;
    if (GMIME_IS_MESSAGE_PART(part)) {
        GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(part));
        std::string text;
        if (inner) {
            char* raw = g_mime_object_to_string(GMIME_OBJECT(inner), nullptr);
            text = raw ? raw : "";
            g_free(raw);
        }
        out.push_back({name, std::move(text)});
    } else if (GMIME_IS_PART(part)) {
        out.push_back({name, DecodedContent(GMIME_PART(part))});
    }
}

std::string ReadWholeFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int reason = errno;
        throw Error(errnum::E_FAIL, kSource,
                    "The message file " + path.string() + " cannot be read: " + std::strerror(reason) + ".");
    }
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

/// A local mail folder. A Maildir's messages are the files of new/ and cur/ (tmp/ holds
/// messages still being delivered and is left alone); a plain folder's are its ".eml"
/// files. Hidden files are never messages.
class FolderMailbox : public Mailbox {
  public:
    explicit FolderMailbox(const std::string& folder) : folder_(folder) {
        std::error_code ec;
        if (folder_.empty())
            throw Error(errnum::E_FAIL, kSource, "No mail folder is configured for the mailbox.");
        if (!fs::is_directory(folder_, ec))
            throw Error(errnum::E_FAIL, kSource, "The mail folder " + folder_.string() + " does not exist.");
        if (::access(folder_.c_str(), R_OK | W_OK | X_OK) != 0) {
            const int reason = errno;
            throw Error(errnum::E_FAIL, kSource,
                        "The mail folder " + folder_.string() + " cannot be used: " + std::strerror(reason) + ".");
        }
        maildir_ = fs::is_directory(folder_ / "cur", ec) || fs::is_directory(folder_ / "new", ec);
    }

    std::vector<std::string> List() override {
        struct Entry {
            std::string order;
            std::string id;
            fs::path path;
        };
        std::vector<Entry> entries;
        auto scan = [&](const fs::path& dir, bool maildir) {
            std::error_code ec;
            fs::directory_iterator it(dir, ec);
            if (ec) {
                if (maildir && ec == std::errc::no_such_file_or_directory) return;
                throw Error(errnum::E_FAIL, kSource,
                            "The mail folder " + dir.string() + " cannot be read: " + ec.message() + ".");
            }
            for (const fs::directory_entry& e : it) {
                const std::string name = e.path().filename().string();
                std::error_code fileEc;
                if (name.empty() || name[0] == '.' || !e.is_regular_file(fileEc)) continue;
                if (maildir) {
                    // The unique part of the name: flags after ":" change when a reader
                    // marks the message seen.
                    const std::string unique = name.substr(0, name.find(':'));
                    entries.push_back({unique, "maildir:" + unique, e.path()});
                } else {
                    if (name.size() < 5 || ToLower(name.substr(name.size() - 4)) != ".eml") continue;
                    // A name may come again with another message once the first is gone.
                    const uintmax_t size = e.file_size(fileEc);
                    const auto time = e.last_write_time(fileEc).time_since_epoch().count();
                    entries.push_back({name, "eml:" + name + ":" + std::to_string(size) + ":" + std::to_string(time), e.path()});
                }
            }
        };
        if (maildir_) {
            scan(folder_ / "new", true);
            scan(folder_ / "cur", true);
        } else {
            scan(folder_, false);
        }
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.order < b.order; });
        paths_.clear();
        std::vector<std::string> ids;
        for (Entry& e : entries) {
            if (!paths_.emplace(e.id, e.path).second) continue;
            ids.push_back(e.id);
        }
        return ids;
    }

    std::string Fetch(const std::string& id) override {
        const std::string raw = ReadWholeFile(PathOf(id));
        return raw;
    }

    void Delete(const std::string& id) override {
        const fs::path path = PathOf(id);
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            const int reason = errno;
            throw Error(errnum::E_FAIL, kSource,
                        "The message file " + path.string() + " cannot be deleted: " + std::strerror(reason) + ".");
        }
    }

    void Close() override {}

    std::string Name() const override { return "folder:" + folder_.string(); }

  private:
    const fs::path& PathOf(const std::string& id) const {
        auto it = paths_.find(id);
        if (it == paths_.end())
            throw Error(errnum::E_FAIL, kSource, "The mail folder " + folder_.string() + " has no message " + id + ".");
        return it->second;
    }

    fs::path folder_;
    bool maildir_ = false;
    std::map<std::string, fs::path> paths_;
};

}  // namespace

ReceivedMessage ParseMessage(std::string_view raw) {
    InitMime();
    GObjectRef stream(g_mime_stream_mem_new_with_buffer(raw.data(), raw.size()));
    GObjectRef parser(g_mime_parser_new_with_stream(GMIME_STREAM(stream.p)));
    GObjectRef message(g_mime_parser_construct_message(GMIME_PARSER(parser.p), nullptr));
    if (!message.p)
        throw Error(errnum::E_FAIL, kParseSource, "The message cannot be read: it is not in MIME form.");
    GMimeMessage* m = GMIME_MESSAGE(message.p);
    GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(m));
    if (!headers || g_mime_header_list_get_count(headers) == 0)
        throw Error(errnum::E_FAIL, kParseSource, "The message cannot be read: it has no header.");

    ReceivedMessage result;
    if (InternetAddressList* from = g_mime_message_get_from(m); from && internet_address_list_length(from) > 0) {
        InternetAddress* first = internet_address_list_get_address(from, 0);
        if (INTERNET_ADDRESS_IS_MAILBOX(first))
            result.sender = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(first));
        else if (char* text = internet_address_to_string(first, nullptr, FALSE)) {
            result.sender = text;
            g_free(text);
        }
    }
    CollectAttachments(g_mime_message_get_mime_part(m), result.attachments, 0);
    return result;
}

std::unique_ptr<Mailbox> OpenMailbox(const MailboxSettings& settings) {
    switch (settings.protocol) {
        case MailboxSettings::Protocol::Folder:
            return std::make_unique<FolderMailbox>(settings.folder);
        case MailboxSettings::Protocol::Imap:
        case MailboxSettings::Protocol::Pop3:
            return detail::OpenRemoteMailbox(settings);
    }
    throw Error(errnum::E_FAIL, kSource, "Unknown kind of mailbox.");
}

}  // namespace kestrix::mail
