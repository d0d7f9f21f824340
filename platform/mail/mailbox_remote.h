#pragma once
// Inside platform/mail only: the mailboxes read over IMAP and POP3, and the start of the
// transfer library that they and the SMTP sending share.

#include <memory>

#include "platform/mail/mailbox.h"

namespace kestrix::mail::detail {

/// Initialises the transfer library for the process, once, before the room's first transfer.
void EnsureCurl();

/// Connects to the IMAP or POP3 server of `settings` and logs on.
std::unique_ptr<Mailbox> OpenRemoteMailbox(const MailboxSettings& settings);

}  // namespace kestrix::mail::detail
