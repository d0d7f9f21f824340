-- The membership directory: trading companies, their codes, their users and the
-- applications each user may use.

-- A trading company. Every user belongs to one.
CREATE TABLE BUSINESSPARTNER (
    BUSINESSPARTNERID INTEGER PRIMARY KEY AUTOINCREMENT,
    NAME              VARCHAR(255) NOT NULL
);

-- The codes by which documents name a partner: KIND 0 is the code a document carries in
-- BUS-PART-C, KIND 1 the code in BUS-PART-S. A code of one kind names one partner.
CREATE TABLE BUSINESSPARTNERCODE (
    BUSINESSPARTNERID INTEGER      NOT NULL REFERENCES BUSINESSPARTNER (BUSINESSPARTNERID),
    KIND              SMALLINT     NOT NULL,
    CODE              VARCHAR(255) NOT NULL,
    PRIMARY KEY (KIND, CODE)
);
CREATE INDEX BUSINESSPARTNERCODE_BP ON BUSINESSPARTNERCODE (BUSINESSPARTNERID);

-- A user, keyed by login name. The password is kept only as an argon2id hash.
-- LANGUAGEID and LOCALEID are language and locale numbers (1033, 2057, ...), NULL when none.
CREATE TABLE MEMBERUSER (
    USERID            VARCHAR(255) NOT NULL PRIMARY KEY,
    BUSINESSPARTNERID INTEGER      NOT NULL REFERENCES BUSINESSPARTNER (BUSINESSPARTNERID),
    EMAIL             VARCHAR(255),
    LANGUAGEID        INTEGER,
    LOCALEID          INTEGER,
    FIRSTNAME         VARCHAR(255),
    SECONDNAME        VARCHAR(255),
    EMPLOYEENUMBER    VARCHAR(255),
    PASSWORDHASH      VARCHAR(255)
);
CREATE INDEX MEMBERUSER_BP ON MEMBERUSER (BUSINESSPARTNERID);
CREATE INDEX MEMBERUSER_EMPLOYEENUMBER ON MEMBERUSER (EMPLOYEENUMBER);

-- The applications (identifiers of the server configuration) a user may use.
CREATE TABLE MEMBERUSERAPPLICATION (
    USERID        VARCHAR(255) NOT NULL REFERENCES MEMBERUSER (USERID),
    APPLICATIONID INTEGER      NOT NULL,
    PRIMARY KEY (USERID, APPLICATIONID)
);
