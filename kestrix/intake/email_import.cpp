// The mailbox import: attachments of received mail into the first import folder.
#include "kestrix/intake/email_import.h"

#include <charconv>
#include <filesystem>
#include <memory>
#include <set>

#include "kestrix/documents/qel_excel.h"
#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/file_handling.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/i18n.h"
#include "kestrix/foundation/site_settings.h"
#include "kestrix/intake/import_claims.h"
#include "platform/base/dictionary.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/mail/mailbox.h"
#include "platform/net/file_target.h"
#include "platform/net/transport.h"
#include "platform/services/file_paths.h"
#include "platform/services/log.h"

namespace kestrix {

namespace {
/// The claims of the mailboxes stand apart from those of the import folders.
constexpr const char* kMailboxClaims = "mailbox";
}  // namespace

namespace fs = std::filesystem;

namespace {

constexpr const char* kStartSource = "Kestrix.EmailImport.StartEmailImport";
constexpr const char* kMessagesSource = "Kestrix.EmailImport.ProcessMessages";
constexpr const char* kAttachmentsSource = "Kestrix.EmailImport.ProcessAttachments";
constexpr const char* kParameterSource = "Kestrix.EmailImport.getEmailParameter";

/// The attachment index of the record that sets a message aside: it has no document to
/// save, or it is no message at all (logged when first met).
constexpr int32_t kNothingToSave = -1;

/// A label's text with its placeholders filled; the code itself when the label cannot be
/// read, so that a failure of the database never hides the failure being reported.
std::string Label(std::string_view code, std::initializer_list<std::pair<const char*, std::string>> values = {}) {
    Dictionary replacements;
    for (const auto& [key, value] : values) replacements.Add(key, Variant(value));
    return LabelOrCode(code, 0, replacements);
}

/// The documents taken from mail: XML files and the workbooks that the roads of intake read.
bool Qualifies(const std::string& name) {
    if (name.size() < 5 || name.find('.') == std::string::npos) return false;
    return ToLower(name).ends_with(".xml") || IsWorkbookDocumentName(name);
}

/// The attachment's name as a plain file name of the import folder: a sender's folder part
/// ("../../x.xml", "C:\\in\\x.xml") is dropped, control characters become "_", and a
/// leading "." becomes "_" so that the file is neither hidden nor taken for a part file.
std::string PlainFileName(const std::string& name) {
    std::string plain = name.substr(name.find_last_of("/\\") == std::string::npos ? 0 : name.find_last_of("/\\") + 1);
    for (char& c : plain)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '_';
    plain = Trim(plain);
    if (!plain.empty() && plain[0] == '.') plain[0] = '_';
    return plain;
}

/// The other name of a name already taken in the import folder: the name up to its first
/// ".", "_", a fresh unique part and the extension ("order.v2.xml" -> "order_kx3f9a0c1b.xml").
std::string OtherName(const std::string& name) {
    std::string unique = services::TempFileName();  // "kx" + 8 letters and digits + ".tmp"
    unique = unique.substr(0, unique.size() - 4);
    const size_t lastDot = name.rfind('.');
    return name.substr(0, name.find('.')) + "_" + unique + name.substr(lastDot);
}

/// Writes the attachment into the import folder whole, never replacing a file: under its
/// own name, or under another name when that one is taken. Answers the path.
std::string SaveIntoFolder(const std::string& folder, const std::string& name, const std::string& data) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) fs::create_directories(folder, ec);
    std::string target = name;
    for (int attempt = 0;; ++attempt) {
        try {
            net::WriteFileInFolder(folder, target, data, net::ExistingFile::Keep);
            return services::JoinPath(folder, target);
        } catch (const net::TransportError& e) {
            // Another name is tried when the name is taken, also when a folder import or
            // another writer took the other name in the meantime; any other failure (a part
            // file that cannot be made counts as one) is the attachment's failure.
            std::error_code ignored;
            if (e.number() != net::neterr::TargetExists || attempt >= 8 ||
                !fs::exists(fs::path(folder) / target, ignored))
                throw;
            target = OtherName(name);
        }
    }
}

/// Where the mailbox of `user` at `domain` is read: the site configuration's MAILIMPORT
/// section, and the local mail folder of the site by default.
mail::MailboxSettings MailboxSettingsFor(const std::string& user, const std::string& domain) {
    auto setting = [](const char* key) { return SiteSetting("MAILIMPORT", key); };
    auto number = [&](const char* key, int fallback) {
        const std::string text = setting(key);
        if (text.empty()) return fallback;
        int value = 0;
        const char* end = text.data() + text.size();
        if (auto [stop, ec] = std::from_chars(text.data(), end, value); ec == std::errc() && stop == end) return value;
        throw Error(errnum::E_FAIL, kStartSource,
                    "The site configuration's MAILIMPORT " + std::string(key) + " '" + text + "' is not a whole number.");
    };
    mail::MailboxSettings settings;
    const std::string address = user + "@" + domain;
    const std::string protocol = setting("Protocol");
    if (IEquals(protocol, "imap")) {
        settings.protocol = mail::MailboxSettings::Protocol::Imap;
    } else if (IEquals(protocol, "pop3")) {
        settings.protocol = mail::MailboxSettings::Protocol::Pop3;
    } else if (protocol.empty() || IEquals(protocol, "folder")) {
        std::string root = services::InSite(setting("MailFolder"), getInstallDir());
        if (root.empty()) root = (fs::path(getInstallDir()) / "mail").string();
        settings.folder = services::JoinPath(LocalFilePath(root), address);
        return settings;
    } else {
        throw Error(errnum::E_FAIL, kStartSource,
                    "The site configuration's MAILIMPORT Protocol '" + protocol + "' is none of folder, imap and pop3.");
    }
    settings.host = setting("Server");
    if (settings.host.empty()) settings.host = domain;
    settings.port = number("Port", 0);
    const std::string tls = setting("Tls");
    settings.tls = IEquals(tls, "starttls") ? mail::MailboxSettings::Tls::StartTls
                   : IEquals(tls, "tls")    ? mail::MailboxSettings::Tls::Implicit
                                            : mail::MailboxSettings::Tls::None;
    settings.user = setting("Login");
    if (settings.user.empty()) settings.user = address;
    // A password is taken as it stands: blanks may belong to it.
    try {
        settings.password = SiteConfiguration()->GetValue("MAILIMPORT", "Password").ToString();
    } catch (...) {
        settings.password.clear();
    }
    settings.caFile = services::InSite(setting("CaFile"), getInstallDir());
    if (const std::string folder = setting("ImapFolder"); !folder.empty()) settings.imapFolder = folder;
    settings.timeoutSeconds = number("Timeout", settings.timeoutSeconds);
    return settings;
}

/// The records of saved attachments, by mailbox and message.
class SavedRecords {
  public:
    explicit SavedRecords(std::string mailbox) : mailbox_(std::move(mailbox)) {}

    std::set<int32_t> Saved(const std::string& message) const {
        db::Connection connection = GetConnection();
        db::Recordset rs = connection.Query(
            "SELECT ATTACHMENTINDEX FROM MAILIMPORTSAVED WHERE MAILBOX = ? AND MESSAGEID = ?",
            {Variant(mailbox_), Variant(message)});
        std::set<int32_t> indexes;
        for (; !rs.Eof(); rs.MoveNext()) indexes.insert(static_cast<int32_t>(rs.GetInt("ATTACHMENTINDEX")));
        return indexes;
    }

    void Record(const std::string& message, int32_t index, const std::string& path) const {
        db::Connection connection = GetConnection();
        connection.Execute(
            "INSERT INTO MAILIMPORTSAVED (MAILBOX, MESSAGEID, ATTACHMENTINDEX, FILENAME, SAVEDAT) VALUES (?, ?, ?, ?, ?)",
            {Variant(mailbox_), Variant(message), Variant(index), Variant(path), Variant(DateTime::Now().Sortable())});
    }

    /// Forgets the records of messages that the mailbox no longer lists (deleted here, or
    /// by someone else).
    void KeepOnly(const std::vector<std::string>& listed) const {
        const std::set<std::string> present(listed.begin(), listed.end());
        std::vector<std::string> gone;
        {
            db::Connection connection = GetConnection();
            db::Recordset rs = connection.Query("SELECT DISTINCT MESSAGEID FROM MAILIMPORTSAVED WHERE MAILBOX = ?",
                                                {Variant(mailbox_)});
            for (; !rs.Eof(); rs.MoveNext())
                if (!present.contains(rs.GetString("MESSAGEID"))) gone.push_back(rs.GetString("MESSAGEID"));
        }
        Forget(gone);
    }

    /// Forgets the messages that are gone from the mailbox.
    void Forget(const std::vector<std::string>& messages) const {
        if (messages.empty()) return;
        db::Connection connection = GetConnection();
        for (const std::string& message : messages)
            connection.Execute("DELETE FROM MAILIMPORTSAVED WHERE MAILBOX = ? AND MESSAGEID = ?",
                               {Variant(mailbox_), Variant(message)});
    }

  private:
    std::string mailbox_;
};

/// One log entry for the failure being handled, under `source`, with the label text.
void LogFailure(const char* source, const std::string& text, int32_t& failures) noexcept {
    LogError(source, text);
    ++failures;
}

}  // namespace

std::string EMailImport::GetEmailParameter(std::string& iParamName) {
    try {
        return GetParameter(iParamName);
    } catch (...) {
        LogError(kParameterSource, iParamName);
        return {};
    }
}

void EMailImport::Run() {
    const std::atomic<bool> never{false};
    Run(never);
}

void EMailImport::Run(const std::atomic<bool>& stop) {
    last_ = Tally{};
    Tally& tally = last_;
    try {
        // The parameters in this order; the first blank one stops the run.
        std::string names[] = {"EmailImportLocalSMTPServer", "EmailImportSMTPUserID", "XMLPath1"};
        std::string values[3];
        for (int i = 0; i < 3; ++i) {
            values[i] = GetEmailParameter(names[i]);
            if (Trim(values[i]).empty()) {
                const std::string text = Label("SLBSH4581") + "\r\n" + Label("SLBSH4582", {{"[%PARAM%]", names[i]}}) +
                                         "\r\n" + Label("SLBSH4583");
                try {
                    Raise(EnumerationErrors::MissingParameter, kStartSource, text);
                } catch (...) {
                    LogFailure(kStartSource, names[i], tally.failures);
                }
                return;
            }
        }
        const std::string& domain = values[0];
        const std::string& user = values[1];
        const std::string folder = LocalFilePath(values[2]);

        // One run at a time reads a mailbox, in every process that shares the site's database
        // (a service and a run from cron, or the services of several machines): the mailbox
        // is claimed as the folder import claims a file, and the claim of a run that died is
        // taken back after the lease.
        std::optional<import_claims::Claim> lease;
        try {
            const std::string key = "mailbox:" + user + "@" + domain;
            // Claims left by runs that died: this mailbox's becomes this run's, the others
            // (of mailboxes the site no longer reads) go.
            std::vector<import_claims::Claim> others;
            for (import_claims::Claim& claim : import_claims::TakeBack(kMailboxClaims, ClaimLeaseSeconds()))
                (claim.filePath == key ? lease.emplace(std::move(claim)) : others.emplace_back(std::move(claim)));
            import_claims::Drop(others);
            if (!lease) lease = std::move(import_claims::Record(kMailboxClaims, {key}).front());
        } catch (...) {
            LogFailure(kStartSource, Label("SLBSH4584"), tally.failures);
            return;
        }
        if (!lease) {
            tally.heldElsewhere = true;
            return;
        }
        struct LeaseDrop {
            const import_claims::Claim& claim;
            ~LeaseDrop() {
                try {
                    import_claims::Drop(claim);
                } catch (...) {
                    // Left behind, the claim is taken back once the lease has passed.
                    LogError(kStartSource);
                }
            }
        } leaseDrop{*lease};

        std::unique_ptr<mail::Mailbox> mailbox;
        mail::MailboxSettings settings;
        try {
            settings = MailboxSettingsFor(user, domain);
            mailbox = mail::OpenMailbox(settings);
        } catch (...) {
            LogFailure(kStartSource, Label("SLBSH4584"), tally.failures);
            return;
        }
        std::vector<std::string> messages;
        try {
            messages = mailbox->List();
        } catch (...) {
            LogFailure(kStartSource, Label("SLBSH4585"), tally.failures);
            return;
        }
        tally.mailboxRead = true;

        // A message is named the same way from run to run, by its mailbox's kind and login.
        const char* kind = settings.protocol == mail::MailboxSettings::Protocol::Imap   ? "imap:"
                           : settings.protocol == mail::MailboxSettings::Protocol::Pop3 ? "pop3:"
                                                                                        : "folder:";
        const SavedRecords records(kind + (settings.protocol == mail::MailboxSettings::Protocol::Folder
                                               ? user + "@" + domain
                                               : settings.user + "@" + settings.host));
        try {
            records.KeepOnly(messages);
        } catch (...) {
            LogFailure(kMessagesSource, Label("SLBSH4580") + " " + mailbox->Name(), tally.failures);
        }
        std::vector<std::string> deleted;
        services::Log log;
        for (const std::string& id : messages) {
            if (stop.load()) break;
            ++tally.messagesSeen;
            // A long run keeps its claim of the mailbox fresh.
            try {
                import_claims::Renew(*lease);
            } catch (...) {
                LogError(kStartSource);
            }
            std::string sender;
            try {
                const std::set<int32_t> saved = records.Saved(id);
                // Looked at before and found with nothing to save, or unreadable (and logged
                // then): it stays in the mailbox and is not read again.
                if (saved.contains(kNothingToSave)) continue;
                mail::ReceivedMessage message;
                try {
                    message = mail::ParseMessage(mailbox->Fetch(id));
                } catch (const Error& e) {
                    // Only a message that is no message at all is set aside; a mailbox that
                    // failed to hand it over is tried again next time.
                    if (e.source() == "Mail.Mailbox.Parse") records.Record(id, kNothingToSave, {});
                    throw;
                }
                sender = message.sender;
                int qualifying = 0;
                bool complete = true;
                for (size_t index = 0; index < message.attachments.size(); ++index) {
                    const mail::ReceivedAttachment& attachment = message.attachments[index];
                    const std::string name = PlainFileName(attachment.name);
                    if (!Qualifies(name)) continue;
                    ++qualifying;
                    if (saved.contains(static_cast<int32_t>(index))) continue;
                    try {
                        const std::string path = SaveIntoFolder(folder, name, attachment.data);
                        records.Record(id, static_cast<int32_t>(index), path);
                        ++tally.attachmentsSaved;
                        tally.saved.push_back({id, sender, attachment.name, path});
                        log.LogInfo(kAttachmentsSource, "Saved the attachment " + attachment.name + " of a message from " + sender,
                                    {{"message", id}, {"file", path}});
                    } catch (...) {
                        complete = false;
                        LogFailure(kAttachmentsSource,
                                   Label("SLBSH4588", {{"[%ATTACHMENT%]", attachment.name}, {"[%SENDER%]", sender}}) +
                                       "\r\n" + Label("SLBSH4589", {{"[%DISDIR%]", folder}}),
                                   tally.failures);
                    }
                }
                // Only a message whose every document is in the import folder goes; one
                // without a document stays and is not read again.
                if (qualifying == 0) {
                    records.Record(id, kNothingToSave, {});
                } else if (complete) {
                    mailbox->Delete(id);
                    deleted.push_back(id);
                }
            } catch (...) {
                LogFailure(kMessagesSource, Label("SLBSH4586") + " " + mailbox->Name() + " " + id +
                                                (sender.empty() ? "" : " (" + sender + ")"),
                           tally.failures);
            }
        }
        try {
            mailbox->Close();
            tally.messagesDeleted = static_cast<int32_t>(deleted.size());
            records.Forget(deleted);
        } catch (...) {
            LogFailure(kStartSource, Label("SLBSH4580") + " " + mailbox->Name(), tally.failures);
        }
    } catch (...) {
        LogFailure("Kestrix.EmailImport.Run", Label("SLBSH4580"), tally.failures);
    }
}

Variant EMailImport::Invoke(std::string_view method, std::span<Variant> args) {
    if (IEquals(method, "Run") && args.empty()) {
        Run();
        return {};
    }
    if (IEquals(method, "GetEmailParameter") && args.size() == 1) {
        std::string name = args[0].ToString();
        std::string value = GetEmailParameter(name);
        args[0] = Variant(name);
        return Variant(value);
    }
    return Object::Invoke(method, args);
}

}  // namespace kestrix
