-- What leaves the system, written in the same transaction as the document it concerns and
-- removed once it has been done: notification mails (and, later, deliveries). A row that
-- failed waits for its next attempt; PUBLICATIONERRORID is the open error that tells the
-- sender about it, closed when the attempt succeeds. CLAIMEDBY (host:process:start) holds an
-- item while one worker does it, until CLAIMEDUNTIL; a claim whose owner died is released,
-- one whose time ran out is taken by the next worker.
CREATE TABLE IF NOT EXISTS OUTBOX (
    OUTBOXID            SERIAL PRIMARY KEY,
    DOCUMENTID          INTEGER NOT NULL,
    KIND                TEXT NOT NULL,
    TARGET              TEXT,
    SUBJECT             TEXT,
    BODY                TEXT,
    ATTEMPTS            INTEGER NOT NULL DEFAULT 0,
    NEXTATTEMPT         TEXT,
    LASTERROR           TEXT,
    PUBLICATIONERRORID  INTEGER,
    CREATIONDATE        TEXT,
    CLAIMEDBY           TEXT,
    CLAIMEDUNTIL        TEXT
);
CREATE INDEX IF NOT EXISTS OUTBOX_NEXT ON OUTBOX (NEXTATTEMPT);
CREATE INDEX IF NOT EXISTS OUTBOX_DOCUMENT ON OUTBOX (DOCUMENTID);
