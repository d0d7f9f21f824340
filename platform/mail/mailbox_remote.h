#pragma once
// Inside platform/mail only: the mailboxes read over IMAP and POP3.

#include <memory>

#include "platform/mail/mailbox.h"

namespace kestrix::mail::detail {

/// Connects to the IMAP or POP3 server of `settings` and logs on.
std::unique_ptr<Mailbox> OpenRemoteMailbox(const MailboxSettings& settings);

}  // namespace kestrix::mail::detail
