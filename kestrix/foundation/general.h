#pragma once

#include <span>
#include <string>
#include <string_view>

#include "platform/base/error.h"
#include "platform/base/object.h"
#include "platform/component/component.h"

namespace kestrix {

/// The classes of libkestrix by registered name ("Kestrix.Document", ...).
std::span<const component::ClassEntry> KestrixClasses();

/// Creates a class by registered name: the library's own classes first, then everything the
/// platform can create (its services, libqelfile, the site's plug-ins). Raises on failure.
ObjectPtr CreateComponent(std::string_view progId);

/// Creates a component as the business layer always does: there is never a transaction
/// context, so the class is created directly. A failure is logged ("Create instance of "
/// progId " failed.") and answered with nullptr; the caller's next use of it fails.
ObjectPtr Qel_getComponent(std::string_view progId);

/// Creates a component and casts it to the class the caller expects; raises when it cannot
/// be created or is of another class.
template <typename T>
std::shared_ptr<T> CreateAs(std::string_view progId) {
    ObjectPtr object = CreateComponent(progId);
    auto typed = std::dynamic_pointer_cast<T>(object);
    if (!typed) throw Error(errnum::E_FAIL, std::string(progId), "Unexpected class of component.");
    return typed;
}

/// Path of the server configuration file (<server config folder>/QelServerConfiguration.xml),
/// cached per thread; "" (after logging) when it cannot be found.
std::string GetQelConfigFile();
/// Path of the site configuration file (<site config folder>/SiteConfiguration.xml),
/// cached per thread; "" (after logging) when it cannot be found.
std::string getSiteConfigFile();
/// The installation folder, looked up on every call; "" (after logging) on failure.
std::string getInstallDir();
/// The membership script user (with "," and the LDAP root appended when one is set),
/// cached per thread.
std::string GetMemScriptUser();
/// The membership script code, cached per thread.
std::string GetMemScriptCode();

/// Forgets the calling thread's cached configuration paths, connection string, encoder
/// and pooled connections, so that the thread can work on another site. The library
/// itself never calls it; the command line and the tests do.
void ResetThreadCaches();

}  // namespace kestrix
