#pragma once

#include <string>
#include <vector>

namespace kestrix::mail {

/// A file attached to a message.
struct Attachment {
    std::string path;      ///< the file on disk; its name (without folder) names the attachment
    std::string charset;   ///< character set parameter of the part ("utf-8"), or empty
};

/// One message as the business layer composes it.
struct Message {
    std::string from;
    /// One or more addresses separated by "," or ";" ("Ann <ann@x.test>; bob@y.test").
    std::string to;
    std::string cc;
    std::string bcc;
    std::string subject;
    std::string textBody;  ///< plain text, UTF-8
    std::vector<Attachment> attachments;
};

/// How messages leave the site.
struct Settings {
    enum class Mode { Pickup, Smtp };
    Mode mode = Mode::Pickup;
    /// Pickup: the folder into which each message is written as one .eml file.
    std::string pickupFolder;
    /// SMTP: server, port, TLS and login.
    std::string host;
    int port = 25;
    enum class Tls { None, StartTls, Implicit };
    Tls tls = Tls::None;
    std::string user;
    std::string password;
    /// Seconds for connecting and for the whole exchange.
    int timeoutSeconds = 30;
    /// The name the client greets the server with.
    std::string heloName = "localhost";
};

/// The message in MIME form, with LF line breaks: RFC 5322 headers folded at 78 characters,
/// a subject beyond ASCII in RFC 2047 encoded words, the UTF-8 text as it is when it is
/// plain ASCII in short lines, otherwise quoted-printable or (when 17 % or more of it lies
/// beyond ASCII) base64, and multipart/mixed with base64 attachments when it has any. A file
/// that cannot be read raises an error naming it.
std::string Compose(const Message& message);

/// The plain addresses of an address list ("Ann <ann@x.test>, bob@y.test" -> the two
/// addresses); an entry without "@" is refused with an error.
std::vector<std::string> Addresses(const std::string& list);

/// Sends the message: composed, then written into the pickup folder (a file appears there
/// whole, never half-written) or handed to the SMTP server for every address of To, Cc and
/// Bcc. A refusal, a time-out or an unreachable server raises an error with the server's
/// answer. Returns the pickup file's path, or the server's last reply.
std::string Send(const Message& message, const Settings& settings);

}  // namespace kestrix::mail
