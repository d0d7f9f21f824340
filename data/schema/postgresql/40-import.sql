-- The claims of the folder import. A file of an import folder is claimed by recording it
-- here (FILEPATH, the claimed "~" name, taken once) and then renaming it; the owner
-- ("HOST:PID:START", the start telling a reused process number) keeps it while it lives. TOUCHED (seconds since 1970) is renewed with every document of the file; a claim
-- whose owner is gone and that was not touched for the lease is taken back by another run.
-- DONE is set in the transaction of the file's last document: the file is then only to be
-- deleted (a run that takes such a claim back deletes it without reading it).
CREATE TABLE IF NOT EXISTS IMPORTCLAIM (
    CLAIMID       SERIAL PRIMARY KEY,
    FILEPATH      TEXT NOT NULL UNIQUE,
    FOLDER        TEXT NOT NULL,
    TOKEN         TEXT NOT NULL,
    OWNER         TEXT NOT NULL,
    CLAIMDATE     TEXT NOT NULL,
    TOUCHED       BIGINT NOT NULL,
    DONE          INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX IF NOT EXISTS IMPORTCLAIM_FOLDER ON IMPORTCLAIM (FOLDER);
-- The documents of a claimed file that are done, each written in the transaction that
-- stored (or refused) it: DOCINDEX counts the documents of the file from 0, DOCUMENTID is
-- the stored document (0 when it was refused). DOCINDEX -1 records that the whole file
-- was set aside (it goes to the error folder).
CREATE TABLE IF NOT EXISTS IMPORTCLAIMDOCUMENT (
    CLAIMID     INTEGER NOT NULL,
    DOCINDEX    INTEGER NOT NULL,
    DOCUMENTID  INTEGER NOT NULL DEFAULT 0,
    PRIMARY KEY (CLAIMID, DOCINDEX)
);
