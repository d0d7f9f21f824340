#pragma once

#include <span>
#include <string>
#include <string_view>

#include "platform/base/object.h"

namespace kestrix::component {

/// Makes a new object of one class.
using Factory = ObjectPtr (*)();

/// One class of a library's class table: its registered name ("Kestrix.Document") and the
/// function that makes it.
struct ClassEntry {
    const char* progId;
    Factory create;
};

/// The name of the function that libqelfile, which shares the platform's vocabulary,
/// exports with C linkage: `const ClassEntry* kestrix_component_classes(size_t* count)`,
/// answering the library's constant class table. A site's plug-ins export the C entry of
/// plugin_entry.h instead.
inline constexpr const char* kClassTableSymbol = "kestrix_component_classes";
using ClassTableFunction = const ClassEntry* (*)(size_t* count);

/// Creates the class registered under `progId`, looking in this order:
///  1. `ownClasses`, the calling library's own table;
///  2. the platform's classes ("Tavrel.Log", "Tavrel.Configuration", "Ulmara.User",
///     "Ulmara.Members", "Ulmara.Validator", "Brenlow.BusinessPartner");
///  3. "QelFile.*": libqelfile, loaded from the folder of the running library;
///  4. plug-in classes that the site's components file (<site>/config/components.xml)
///     names: <Components><Component progId="Acme.Orders" library="plugins/libacme.so"/>,
///     a relative library path being relative to the components file's folder. The file
///     is read once per thread and again only when its size, modification time or inode
///     change. A plug-in object is called through the library's C entry
///     (plugin_entry.h): an error it reports becomes an `Error` with its number, source and
///     description.
/// Raises an error (number 0x800401F3, "Invalid class string") when no one knows the name,
/// and the loader's message when a library cannot be loaded, is no plug-in or has an entry
/// version this host does not know (such a library is unloaded again). A plug-in library
/// stays loaded while the thread that loaded it lives or an object it made does;
/// libqelfile stays loaded.
ObjectPtr CreateObject(std::string_view progId, std::span<const ClassEntry> ownClasses = {});

/// The folder holding the shared library (or program) that contains this code.
std::string ModuleFolder();

}  // namespace kestrix::component
