-- The documents posted to the service over HTTP under a key of their sender ("DocID" of a
-- sending site's form post): SENDER is the user who posted, SENDERKEY his key, DOCUMENTID the
-- document stored for it. The row is written in the unit of work that stores the document,
-- so the same key posted again, or twice at once, finds the first document instead of
-- storing a second one; a refused document leaves no row, so its key may come again.
CREATE TABLE IF NOT EXISTS HTTPINTAKE (
    SENDER      TEXT NOT NULL,
    SENDERKEY   TEXT NOT NULL,
    DOCUMENTID  INTEGER NOT NULL DEFAULT 0,
    RECEIVED    TEXT NOT NULL,
    PRIMARY KEY (SENDER, SENDERKEY)
);
