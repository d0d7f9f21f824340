#pragma once
// Who is looking at the pages: log-in with the lock-out of a login that fails too often,
// the sessions kept in the site's database, and the cookies that carry them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "kestrix/web/pages.h"
#include "platform/http/server.h"

namespace kestrix::web {

/// The cookie that carries the session id.
inline constexpr std::string_view kSessionCookie = "kestrix_session";
/// The short-lived cookie that carries the token of the log-in form (before a session exists).
inline constexpr std::string_view kLoginFormCookie = "kestrix_login";
/// The application of the server configuration a user must be allowed to use the pages.
inline constexpr std::string_view kWebApplication = "Kestrix";

/// The limits of sessions and log-ins, from the SERVICE section of the site configuration.
struct SessionLimits {
    int64_t idleSeconds = 30 * 60;     ///< "SessionIdleMinutes": a session unused this long ends
    int64_t lifeSeconds = 12 * 3600;   ///< "SessionMaxHours": no session lives longer
    int64_t failuresToLock = 5;        ///< "LoginAttempts": failed log-ins that lock a login
    int64_t lockSeconds = 15 * 60;     ///< "LoginLockMinutes": how long a login stays locked

    /// The site's settings; an unset value keeps its default, one that is no positive number
    /// raises (the configuration is wrong and the pages say so rather than guess).
    static SessionLimits OfSite();
};

/// The visitor of a request that carries the cookie of a live session: his login, his
/// language (the directory's: 1031 German, anything else English) and the session's CSRF
/// token. Nothing for no cookie, an unknown, ended or expired session, or a user who is gone
/// from the directory or may no longer use the pages (such a session is removed). Using a
/// session keeps it alive.
std::optional<Visitor> SessionVisitor(const http::Request& request);

/// How a log-in ended.
struct LoginOutcome {
    enum class Kind {
        Accepted,  ///< a new session: `sessionId` is for the cookie
        Refused,   ///< wrong login or password, or a user who may not use the pages
        Locked,    ///< too many failures: the login is locked (also the attempt that locked it)
    };
    Kind kind = Kind::Refused;
    std::string sessionId;
};

/// Checks the credentials with the membership validator and the user's access to
/// `kWebApplication`. A login that is locked is refused without looking at the password; a
/// failure counts towards the lock, a success clears the count. Every service of a site
/// shares the count through the database.
LoginOutcome LogIn(const std::string& login, const std::string& password);

/// The credentials of a program that names itself by login and password on every request
/// (the form post of a site's HTTP send method), under the same lock-out as the log-in page:
/// Accepted, Refused or Locked; no session is made and no application is asked for.
LoginOutcome::Kind CheckCredentials(const std::string& login, const std::string& password);

/// Ends the session of the request's cookie (if any): its row is removed.
void EndSession(const http::Request& request);

/// The value of cookie `name` of the request, or "".
std::string CookieValue(const http::Request& request, std::string_view name);

/// A "Set-Cookie" value: HttpOnly, SameSite=Strict, the path given, Secure for a request
/// that came over HTTPS; `maxAgeSeconds` 0 removes the cookie, below 0 makes a cookie of the
/// browser's session.
std::string CookieHeader(std::string_view name, std::string_view value, std::string_view path,
                         int64_t maxAgeSeconds, bool secure);

/// True when the form's field "csrf" is `expected` (compared in constant time; an empty
/// token never matches).
bool CsrfMatches(const http::Request& request, std::string_view expected);

}  // namespace kestrix::web
