-- The sessions of the web pages. A visitor's browser holds the session id; only its hash is
-- kept here (SESSIONHASH), so a copy of the database opens no session. CSRFTOKEN is the
-- token every form of the session posts back. CREATED and LASTSEEN are seconds since 1970:
-- a session ends when it was idle too long or lived too long, whichever comes first.
CREATE TABLE IF NOT EXISTS WEBSESSION (
    SESSIONHASH  VARCHAR(64)  NOT NULL PRIMARY KEY,
    USERID       VARCHAR(255) NOT NULL,
    CSRFTOKEN    VARCHAR(64)  NOT NULL,
    CREATED      BIGINT       NOT NULL,
    LASTSEEN     BIGINT       NOT NULL
);
CREATE INDEX IF NOT EXISTS WEBSESSION_USER ON WEBSESSION (USERID);
-- The failed log-ins of a login name (known to the directory or not): FAILURES counts those
-- since the last success, the last lock or a long quiet spell; LOCKEDUNTIL (seconds since
-- 1970, 0 when none) keeps the login out, the right password included. Every service of
-- the site reads the same rows.
CREATE TABLE IF NOT EXISTS WEBLOGINFAILURE (
    LOGIN        VARCHAR(255) NOT NULL PRIMARY KEY,
    FAILURES     INTEGER      NOT NULL DEFAULT 0,
    LASTFAILURE  BIGINT       NOT NULL DEFAULT 0,
    LOCKEDUNTIL  BIGINT       NOT NULL DEFAULT 0
);
