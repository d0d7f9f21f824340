#pragma once

#include "platform/mail/mail.h"

namespace kestrix {

/// How this site sends mail, from the MAIL section of the site configuration:
/// "Mode" ("pickup", the default, or "smtp"), "PickupFolder" (default <site>/out/mail),
/// "SmtpHost", "SmtpPort" (25), "SmtpTls" ("none", "starttls" or "tls"), "SmtpUser",
/// "SmtpPassword", "SmtpTimeout" (seconds, 30).
mail::Settings SiteMailSettings();

}  // namespace kestrix
