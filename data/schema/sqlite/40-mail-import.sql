-- The attachments that the mailbox import saved into the import folder, one row each: a
-- message stays in the mailbox until all its attachments are saved, and a later run saves
-- only those without a row. ATTACHMENTINDEX -1 sets a message aside that has nothing to
-- save or cannot be read: it stays in the mailbox and is not read again. The rows of a
-- message are removed once the mailbox no longer lists it. MAILBOX names the mailbox
-- (protocol and login), MESSAGEID the message inside it as the mailbox names it from run to
-- run, ATTACHMENTINDEX the attached part (from 0).
CREATE TABLE IF NOT EXISTS MAILIMPORTSAVED (
    MAILBOX          TEXT NOT NULL,
    MESSAGEID        TEXT NOT NULL,
    ATTACHMENTINDEX  INTEGER NOT NULL,
    FILENAME         TEXT,
    SAVEDAT          TEXT,
    PRIMARY KEY (MAILBOX, MESSAGEID, ATTACHMENTINDEX)
);
