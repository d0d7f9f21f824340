#pragma once

#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

/// Options of a new site.
struct SiteOptions {
    /// The database: "sqlite:PATH" or "postgresql://..."; empty = <site>/var/kestrix.db.
    std::string database;
};

/// Creates (or completes) a site in `folder`: its folders, configuration files, the
/// database schema, the label texts and the server parameters with defaults pointing into
/// the site. An existing site keeps its configuration and parameter values; the schema and
/// missing parameters are added and the label texts loaded anew. The database work runs in
/// one transaction, before any configuration file is written, so a failure leaves no
/// half-made site behind. Returns the connection string used.
std::string InitSite(const std::string& folder, const SiteOptions& options = {});

/// A server parameter the library reads: its name, the value a new site starts with and
/// what it is for. A folder of the site is stored relative to the site folder (so that a
/// copied site works on its own files) and taken inside it when read.
struct ParameterInfo {
    std::string_view name;
    std::string_view defaultValue;
    std::string_view description;
    bool isFolder = false;  ///< a relative value names a folder inside the site
};

/// Every server parameter the library reads, by name.
std::span<const ParameterInfo> KnownParameters();
/// The parameter of that name (exactly), or nullptr when the library does not read it.
const ParameterInfo* FindKnownParameter(std::string_view name);

/// Why `folder` cannot be used as a site ("" when it can): it does not exist, holds no
/// server configuration, names no database, or its database file is missing. Creates
/// nothing. The database itself is not opened.
std::string SiteProblem(const std::string& folder);

/// The folder holding the schema, label texts and demo data: KESTRIX_DATA, or the data
/// folder of the source tree the program was built from.
std::string DataFolder();

/// Loads the label texts of data/labels/<language>.tsv into I18NTEXT, replacing the rows of
/// those languages; returns the number of rows loaded.
size_t LoadLabels(const std::string& connectionString, const std::string& labelsFolder);

}  // namespace kestrix
