#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix::mail {

/// One attached file of a received message, decoded.
struct ReceivedAttachment {
    /// The file name the sender gave it (decoded from its encoded form), "" when it has none.
    std::string name;
    std::string data;
};

/// A received message as the mailbox import needs it.
struct ReceivedMessage {
    /// The sender's address as the From header gives it ("" when there is none).
    std::string sender;
    /// The attached parts in the message's order: every part that carries a file name or
    /// is marked as an attachment (then possibly with an empty name). An attached message
    /// is one part; what it carries inside is not looked into.
    std::vector<ReceivedAttachment> attachments;
};

/// Reads a message in MIME form (RFC 5322). A text that is not a message at all (no header,
/// nothing but binary noise, empty) raises an error with the source "Mail.Mailbox.Parse";
/// a damaged structure that can still be read (a missing closing boundary, broken base64)
/// gives what can be read.
ReceivedMessage ParseMessage(std::string_view raw);

/// Where the mailbox import reads its mail.
struct MailboxSettings {
    enum class Protocol { Folder, Imap, Pop3 };
    Protocol protocol = Protocol::Folder;
    /// Folder: the mail folder of the mailbox, either a Maildir (subfolders cur/, new/ and
    /// tmp/) or a folder of ".eml" files.
    std::string folder;
    /// IMAP and POP3: the server, its port (0: the protocol's usual one), TLS and the login.
    std::string host;
    int port = 0;
    enum class Tls { None, StartTls, Implicit };
    Tls tls = Tls::None;
    std::string user;
    std::string password;
    /// Certificates to trust instead of the system's ("" for the system's).
    std::string caFile;
    /// IMAP: the folder read (the inbox by default).
    std::string imapFolder = "INBOX";
    /// Seconds for connecting and for each exchange with the server.
    int timeoutSeconds = 30;
};

/// An open mailbox. Messages are named by an identity that stays the same from run to run
/// while the message is there (Maildir: the unique part of its file name; a folder of .eml
/// files: the file name with the size and a digest of the content; IMAP: the folder's
/// validity number and the message's UID; POP3: the server's unique-id listing), so that a
/// later run can tell which attachments of a message it already saved.
///
/// Every failure raises `kestrix::Error` with a text that names the mailbox and the step;
/// passwords never appear in it.
class Mailbox {
  public:
    virtual ~Mailbox() = default;
    /// The identities of the messages waiting, oldest first (the inbox's order).
    virtual std::vector<std::string> List() = 0;
    /// The message in MIME form.
    virtual std::string Fetch(const std::string& id) = 0;
    /// Marks the message deleted; it is gone once `Close` succeeded (at once for a folder).
    virtual void Delete(const std::string& id) = 0;
    /// Makes the deletions permanent and ends the session. Raises when the server refuses.
    virtual void Close() = 0;
    /// A name of the mailbox for messages and records ("folder:/site/mail/in@x.test",
    /// "imap://in%40x.test@mail.x.test:143/INBOX"); without the password.
    virtual std::string Name() const = 0;
};

/// Opens the mailbox and logs on: a folder that is missing or not readable, a server that
/// cannot be reached or refuses the login raise an error.
std::unique_ptr<Mailbox> OpenMailbox(const MailboxSettings& settings);

}  // namespace kestrix::mail
