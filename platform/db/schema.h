#pragma once

#include <filesystem>

#include "platform/db/connection.h"

namespace kestrix::db {

/// The folder name of a dialect's schema scripts ("sqlite", "postgresql").
const char* SchemaFolderName(Dialect dialect);

/// Creates the tables of the system: runs every ".sql" file of `schemaRoot`/<dialect folder>
/// (for example data/schema/sqlite/) in the order of the file names, each as one script.
/// A script that fails raises `Error` naming the file.
void ApplySchema(Connection& connection, const std::filesystem::path& schemaRoot);

}  // namespace kestrix::db
