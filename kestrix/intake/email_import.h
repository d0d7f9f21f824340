#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/object.h"
#include "platform/base/variant.h"

namespace kestrix {

/// "Kestrix.EMailImport": the job that takes documents out of the import mailbox. It saves
/// every attachment of a received message whose name ends in ".xml", ".xls", ".xlsx" or
/// ".xlsm" (in any case) into the first import folder (server parameter "XMLPath1"), where
/// the next folder import publishes it; it processes nothing itself.
///
/// The mailbox is "EmailImportSMTPUserID" at "EmailImportLocalSMTPServer": by default the
/// local mail folder <MailFolder>/<user>@<domain> of the site (a Maildir or a folder of
/// .eml files, MailFolder being "mail" inside the site); the site configuration's section
/// MAILIMPORT switches to an IMAP or POP3 server ("Protocol", "Server", "Port", "Tls",
/// "Login", "Password", "CaFile", "ImapFolder", "Timeout").
///
/// An attachment is written under a name that no import reads (".NAME.part") and moved to
/// its name without replacing a file; a taken name becomes the name up to its first ".",
/// "_", a fresh unique part and the extension. Each saved attachment is recorded (table
/// MAILIMPORTSAVED), and a message is deleted only once all its attachments that qualify
/// are saved: a later run saves only the rest, never one twice. A message with nothing to
/// save, or that is no message at all (logged once), stays in the mailbox and is not read
/// again.
class EMailImport : public Object {
  public:
    /// One attachment saved by the last run.
    struct SavedAttachment {
        std::string message;     ///< the message's identity in the mailbox
        std::string sender;      ///< the message's sender
        std::string attachment;  ///< the attachment's name as the message gave it
        std::string path;        ///< where it was saved
    };

    /// What the last run did, for the service's log line and the command line.
    struct Tally {
        /// False when the run stopped before it could list the messages (the job is not
        /// configured, the mailbox cannot be opened or its messages listed).
        bool mailboxRead = false;
        /// True when another run (of this or another process sharing the site's database)
        /// was reading the mailbox, so this one left it alone.
        bool heldElsewhere = false;
        int32_t messagesSeen = 0;
        int32_t attachmentsSaved = 0;
        int32_t messagesDeleted = 0;
        /// Failures logged: one per attachment that could not be saved, message that
        /// could not be read, and mailbox step that failed.
        int32_t failures = 0;
        std::vector<SavedAttachment> saved;
    };

    /// One pass over the mailbox. Never raises: every failure is logged (once, with its
    /// label text) and the run goes on with the next attachment or message.
    void Run();
    /// As `Run`, for a service that is asked to stop: once `stop` is true the message in
    /// hand is finished, no further one is taken, and the mailbox is closed as usual.
    void Run(const std::atomic<bool>& stop);

    /// The trimmed value of the server parameter, or "" when it is absent or cannot be read
    /// (logged with the source "Kestrix.EmailImport.getEmailParameter" and the name).
    /// A folder of the site stored relative to it is answered inside the site.
    std::string GetEmailParameter(std::string& iParamName);

    /// What the last `Run` of this object did.
    const Tally& LastRun() const { return last_; }

    /// Late-bound "Run" and "GetEmailParameter"(name).
    Variant Invoke(std::string_view method, std::span<Variant> args) override;

  private:
    Tally last_;
};

}  // namespace kestrix
