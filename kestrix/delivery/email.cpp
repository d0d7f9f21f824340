// Sending one message, the only way mail leaves the system.
#include <charconv>
#include <filesystem>

#include "kestrix/delivery/site_mail.h"
#include "kestrix/foundation/enums.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/general.h"
#include "kestrix/foundation/site_settings.h"
#include "platform/base/error.h"
#include "kestrix/delivery/email.h"
#include "platform/base/strings.h"
#include "platform/services/configuration.h"
#include "platform/services/file_paths.h"

namespace kestrix {

namespace {

/// A whole number of the MAIL section; a clear error naming the key when it is no number.
int MailNumber(const services::Configuration& configuration, const char* key, int fallback) {
    const std::string text = Trim(configuration.GetValue("MAIL", key).ToString());
    if (text.empty()) return fallback;
    int value = 0;
    const char* end = text.data() + text.size();
    if (auto [stop, ec] = std::from_chars(text.data(), end, value); ec == std::errc() && stop == end) return value;
    throw Error(errnum::E_FAIL, "Kestrix.Utility.SendEmail",
                "The site configuration's MAIL " + std::string(key) + " '" + text + "' is not a whole number.");
}

mail::Settings MailSettingsOf(const services::Configuration& configuration) {
    auto value = [&](const char* key) { return Trim(configuration.GetValue("MAIL", key).ToString()); };
    mail::Settings settings;
    settings.mode = IEquals(value("Mode"), "smtp") ? mail::Settings::Mode::Smtp : mail::Settings::Mode::Pickup;
    settings.pickupFolder = services::InSite(value("PickupFolder"), getInstallDir());
    if (settings.pickupFolder.empty())
        settings.pickupFolder = (std::filesystem::path(getInstallDir()) / "out" / "mail").string();
    settings.host = value("SmtpHost");
    settings.port = MailNumber(configuration, "SmtpPort", settings.port);
    std::string tls = value("SmtpTls");
    settings.tls = IEquals(tls, "starttls") ? mail::Settings::Tls::StartTls
                   : IEquals(tls, "tls")    ? mail::Settings::Tls::Implicit
                                            : mail::Settings::Tls::None;
    settings.user = value("SmtpUser");
    settings.password = configuration.GetValue("MAIL", "SmtpPassword").ToString();
    settings.timeoutSeconds = MailNumber(configuration, "SmtpTimeout", settings.timeoutSeconds);
    return settings;
}

}  // namespace

mail::Settings SiteMailSettings() { return MailSettingsOf(*SiteConfiguration()); }

namespace {

void Send(const std::string& sender, const std::string& receiver, const std::string& subject,
          const std::string& body, const std::string& htmlFile, const std::string& xmlFile,
          const std::vector<std::string>& extraFiles, const std::string& senderMissing,
          const std::string& receiverMissing) {
    if (sender.empty()) Raise(EnumerationErrors::MissingEmailSenderError, "Utility", senderMissing);
    if (receiver.empty()) Raise(EnumerationErrors::MissingEmailReceiverError, "Utility", receiverMissing);
    mail::Message message;
    message.from = sender;
    message.to = receiver;
    message.subject = subject;
    message.textBody = body;
    for (const std::string& path : extraFiles) message.attachments.push_back({path, ""});
    if (!htmlFile.empty()) message.attachments.push_back({htmlFile, "utf-8"});
    if (!xmlFile.empty()) message.attachments.push_back({xmlFile, "utf-8"});
    mail::Send(message, SiteMailSettings());
}

// Row 0 of the attachment table: an array of rows whose first row lists the paths, or
// simply a list of paths.
std::vector<std::string> FirstRow(const Variant& table) {
    std::vector<std::string> paths;
    if (!table.IsArray()) return paths;
    const Array& rows = table.ToArray();
    if (rows.empty()) return paths;
    const Array* row = rows.front().IsArray() ? &rows.front().ToArray() : &rows;
    for (const Variant& cell : *row)
        if (!cell.IsEmpty() && !cell.IsNull() && !cell.ToString().empty()) paths.push_back(cell.ToString());
    return paths;
}

}  // namespace

void email::SendEmail(const std::string& iSender, const std::string& iReceiver,
                        const std::string& iSubject, const std::string& iBody,
                        const std::string& iHTMLFileName, const std::string& iXMLFileName) {
    try {
        Send(iSender, iReceiver, iSubject, iBody, iHTMLFileName, iXMLFileName, {},
             "The Sender is missing.", "The Receiver is missing.");
    } catch (...) {
        Reraise("Kestrix.Utility.SendEmail");
    }
}

void email::SendEmailWithAttachments(const std::string& iSender, const std::string& iReceiver,
                                       const std::string& iSubject, const std::string& iBody,
                                       const std::string& iHTMLFileName,
                                       const std::string& iXMLFileName, const Variant& i_aAttachment) {
    try {
        Send(iSender, iReceiver, iSubject, iBody, iHTMLFileName, iXMLFileName, FirstRow(i_aAttachment),
             "The Sender is" + std::string(56, ' ') + "missing.",
             "The Receiver is" + std::string(60, ' ') + "missing.");
    } catch (...) {
        Reraise("Kestrix.Utility.SendEmailWithAttachments");
    }
}

}  // namespace kestrix
