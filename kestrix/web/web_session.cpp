// Sessions and log-ins of the web pages, kept in the site's database so that several services
// of one site share them.
#include "kestrix/web/web_session.h"

#include <ctime>

#include "kestrix/foundation/dbutils.h"
#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/site_settings.h"
#include "kestrix/foundation/users.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/membership/secrets.h"
#include "platform/membership/store.h"
#include "platform/membership/user.h"
#include "platform/services/log.h"

namespace kestrix::web {

namespace {

constexpr size_t kIdBytes = 32;
/// A session's last use is written at most this often, not on every page.
constexpr int64_t kTouchSeconds = 60;
/// Failures of a login that has been quiet this long are forgotten by the housekeeping.
constexpr int64_t kForgetFailuresSeconds = 24 * 3600;

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }

int64_t PositiveSetting(std::string_view key, int64_t fallback, int64_t unit) {
    const std::optional<int64_t> value = SiteSettingWholeNumber("SERVICE", key);
    if (!value) return fallback;
    if (*value < 1)
        throw Error(errnum::E_FAIL, "Kestrix.Web.SessionLimits",
                    "The site configuration's SERVICE " + std::string(key) + " must be a positive number.");
    return *value * unit;
}

bool IsSessionId(std::string_view id) {
    return id.size() == 2 * kIdBytes && id.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

int32_t VisitorLanguage(const membership::User& user) {
    return Trim(user.LanguageID()) == "1031" ? 1031 : 1033;
}

/// Counts a failed log-in; answers true when this failure locked the login.
bool CountFailure(db::Connection& connection, const std::string& login, const SessionLimits& limits) {
    const int64_t now = Now();
    connection.Execute("DELETE FROM WEBLOGINFAILURE WHERE LASTFAILURE < ? AND LOCKEDUNTIL < ?",
                       {Variant(now - kForgetFailuresSeconds), Variant(now)});
    connection.Execute(
        "INSERT INTO WEBLOGINFAILURE (LOGIN, FAILURES, LASTFAILURE, LOCKEDUNTIL) VALUES (?, 0, 0, 0) "
        "ON CONFLICT (LOGIN) DO NOTHING",
        {Variant(login)});
    // One statement, so that two services counting at once both count: failures after a
    // quiet spell as long as a lock, or after a lock that has run out, count from one again.
    connection.Execute(
        "UPDATE WEBLOGINFAILURE SET FAILURES = CASE WHEN LASTFAILURE < ? OR (LOCKEDUNTIL > 0 AND LOCKEDUNTIL <= ?) "
        "THEN 1 ELSE FAILURES + 1 END, LOCKEDUNTIL = CASE WHEN LOCKEDUNTIL <= ? THEN 0 ELSE LOCKEDUNTIL END, "
        "LASTFAILURE = ? WHERE LOGIN = ?",
        {Variant(now - limits.lockSeconds), Variant(now), Variant(now), Variant(now), Variant(login)});
    return connection.Execute(
               "UPDATE WEBLOGINFAILURE SET LOCKEDUNTIL = ?, FAILURES = 0 WHERE LOGIN = ? AND FAILURES >= ?",
               {Variant(now + limits.lockSeconds), Variant(login), Variant(limits.failuresToLock)}) > 0;
}

bool IsLocked(db::Connection& connection, const std::string& login) {
    db::Recordset rs =
        connection.Query("SELECT LOCKEDUNTIL FROM WEBLOGINFAILURE WHERE LOGIN = ?", {Variant(login)});
    return !rs.Eof() && rs.GetInt("LOCKEDUNTIL") > Now();
}

/// True when the credentials are right and the user may use the pages.
bool CredentialsAdmitted(const std::string& login, const std::string& password) {
    std::string user = login, secret = password, unused;
    if (!users::CheckUserAuthorization(user, secret, unused).ToBool()) return false;
    return users::UserAccessToApplicationAllowed(login, std::string(kWebApplication));
}

}  // namespace

SessionLimits SessionLimits::OfSite() {
    SessionLimits limits;
    limits.idleSeconds = PositiveSetting("SessionIdleMinutes", limits.idleSeconds, 60);
    limits.lifeSeconds = PositiveSetting("SessionMaxHours", limits.lifeSeconds, 3600);
    limits.failuresToLock = PositiveSetting("LoginAttempts", limits.failuresToLock, 1);
    limits.lockSeconds = PositiveSetting("LoginLockMinutes", limits.lockSeconds, 60);
    return limits;
}

std::optional<Visitor> SessionVisitor(const http::Request& request) {
    const std::string id = CookieValue(request, kSessionCookie);
    if (!IsSessionId(id)) return std::nullopt;
    const std::string hash = membership::SecretHash(id);
    const SessionLimits limits = SessionLimits::OfSite();
    db::Connection connection = GetConnection();
    db::Recordset rs = connection.Query(
        "SELECT USERID, CSRFTOKEN, CREATED, LASTSEEN FROM WEBSESSION WHERE SESSIONHASH = ?", {Variant(hash)});
    if (rs.Eof()) return std::nullopt;
    const int64_t now = Now();
    Visitor visitor;
    visitor.user = rs.GetString("USERID");
    visitor.csrfToken = rs.GetString("CSRFTOKEN");
    const int64_t lastSeen = rs.GetInt("LASTSEEN");
    bool live = rs.GetInt("CREATED") + limits.lifeSeconds > now && lastSeen + limits.idleSeconds > now;
    if (live) {
        try {
            std::string login = visitor.user;
            const std::shared_ptr<membership::User> user = users::GetAUObject(login);
            visitor.language = VisitorLanguage(*user);
            live = users::UserAccessToApplicationAllowed(*user, std::string(kWebApplication));
        } catch (const Error& e) {
            if (e.number() != membership::errnum::NoSuchUser) throw;
            live = false;
        }
    }
    if (!live) {
        connection.Execute("DELETE FROM WEBSESSION WHERE SESSIONHASH = ?", {Variant(hash)});
        return std::nullopt;
    }
    if (now - lastSeen >= kTouchSeconds)
        connection.Execute("UPDATE WEBSESSION SET LASTSEEN = ? WHERE SESSIONHASH = ?", {Variant(now), Variant(hash)});
    return visitor;
}

namespace {

/// The lock-out around a check of credentials: a locked login is refused without the check;
/// a failure counts towards the lock, a success clears the count.
LoginOutcome::Kind Guarded(db::Connection& connection, const std::string& login, const SessionLimits& limits,
                           bool admitted) {
    if (!admitted) {
        if (CountFailure(connection, login, limits)) {
            services::Log().LogInfo("Kestrix.Web.LogIn", "a login is locked after repeated failed log-ins",
                                    {{"login", Printable(login)}});
            return LoginOutcome::Kind::Locked;
        }
        return LoginOutcome::Kind::Refused;
    }
    connection.Execute("DELETE FROM WEBLOGINFAILURE WHERE LOGIN = ?", {Variant(login)});
    return LoginOutcome::Kind::Accepted;
}

/// A login the directory could hold: not empty, up to 255 characters.
bool PossibleLogin(const std::string& login) { return !login.empty() && login.size() <= 255; }

}  // namespace

LoginOutcome LogIn(const std::string& login, const std::string& password) {
    try {
        LoginOutcome outcome;
        if (!PossibleLogin(login)) return outcome;
        const SessionLimits limits = SessionLimits::OfSite();
        db::Connection connection = GetConnection();
        if (IsLocked(connection, login)) {
            outcome.kind = LoginOutcome::Kind::Locked;
            return outcome;
        }
        outcome.kind = Guarded(connection, login, limits, CredentialsAdmitted(login, password));
        if (outcome.kind != LoginOutcome::Kind::Accepted) return outcome;
        const int64_t now = Now();
        connection.Execute("DELETE FROM WEBSESSION WHERE LASTSEEN < ? OR CREATED < ?",
                           {Variant(now - limits.idleSeconds), Variant(now - limits.lifeSeconds)});
        outcome.sessionId = membership::RandomHex(kIdBytes);
        connection.Execute(
            "INSERT INTO WEBSESSION (SESSIONHASH, USERID, CSRFTOKEN, CREATED, LASTSEEN) VALUES (?, ?, ?, ?, ?)",
            {Variant(membership::SecretHash(outcome.sessionId)), Variant(login),
             Variant(membership::RandomHex(kIdBytes)), Variant(now), Variant(now)});
        return outcome;
    } catch (...) {
        Reraise("Kestrix.Web.LogIn");
    }
}

LoginOutcome::Kind CheckCredentials(const std::string& login, const std::string& password) {
    try {
        if (!PossibleLogin(login)) return LoginOutcome::Kind::Refused;
        db::Connection connection = GetConnection();
        if (IsLocked(connection, login)) return LoginOutcome::Kind::Locked;
        std::string user = login, secret = password, unused;
        return Guarded(connection, login, SessionLimits::OfSite(),
                       users::CheckUserAuthorization(user, secret, unused).ToBool());
    } catch (...) {
        Reraise("Kestrix.Web.CheckCredentials");
    }
}

void EndSession(const http::Request& request) {
    const std::string id = CookieValue(request, kSessionCookie);
    if (!IsSessionId(id)) return;
    GetConnection().Execute("DELETE FROM WEBSESSION WHERE SESSIONHASH = ?", {Variant(membership::SecretHash(id))});
}

std::string CookieValue(const http::Request& request, std::string_view name) {
    for (const auto& [header, value] : request.headers) {
        if (!IEquals(header, "Cookie")) continue;
        for (const std::string& pair : Split(value, ';')) {
            const size_t equals = pair.find('=');
            if (equals != std::string::npos && Trim(pair.substr(0, equals)) == name)
                return Trim(pair.substr(equals + 1));
        }
    }
    return {};
}

std::string CookieHeader(std::string_view name, std::string_view value, std::string_view path,
                         int64_t maxAgeSeconds, bool secure) {
    std::string cookie = std::string(name) + "=" + std::string(value) + "; Path=" + std::string(path) +
                         "; HttpOnly; SameSite=Strict";
    if (maxAgeSeconds >= 0) cookie += "; Max-Age=" + std::to_string(maxAgeSeconds);
    if (secure) cookie += "; Secure";
    return cookie;
}

bool CsrfMatches(const http::Request& request, std::string_view expected) {
    return !expected.empty() && membership::EqualInConstantTime(request.Form("csrf"), expected);
}

}  // namespace kestrix::web
