#pragma once

#include <map>
#include <string>
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

/// The server parameters a new site starts with (name -> value) for the site `folder`.
std::vector<std::pair<std::string, std::string>> DefaultParameters(const std::string& folder);

/// The folder holding the schema, label texts and demo data: KESTRIX_DATA, or the data
/// folder of the source tree the program was built from.
std::string DataFolder();

/// Loads the label texts of data/labels/<language>.tsv into I18NTEXT, replacing the rows of
/// those languages; returns the number of rows loaded.
size_t LoadLabels(const std::string& connectionString, const std::string& labelsFolder);

}  // namespace kestrix
