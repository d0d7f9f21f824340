#include "platform/db/schema.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/base/error.h"

namespace kestrix::db {

const char* SchemaFolderName(Dialect dialect) {
    return dialect == Dialect::SQLite ? "sqlite" : "postgresql";
}

void ApplySchema(Connection& connection, const std::filesystem::path& schemaRoot) {
    const std::filesystem::path folder = schemaRoot / SchemaFolderName(connection.dialect());
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec))
        throw Error(errnum::E_FAIL, "ApplySchema",
                    "The schema folder '" + folder.string() + "' does not exist.");
    std::vector<std::filesystem::path> scripts;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().extension() == ".sql")
            scripts.push_back(entry.path());
    std::sort(scripts.begin(), scripts.end(),
              [](const auto& a, const auto& b) { return a.filename() < b.filename(); });
    for (const auto& script : scripts) {
        std::ifstream in(script, std::ios::binary);
        if (!in)
            throw Error(errnum::E_FAIL, "ApplySchema",
                        "Cannot read the schema script '" + script.string() + "'.");
        std::ostringstream text;
        text << in.rdbuf();
        try {
            connection.ExecuteScript(text.str());
        } catch (const Error& e) {
            throw Error(e.number(), e.source(),
                        "The schema script '" + script.filename().string() +
                            "' failed: " + e.description());
        }
    }
}

}  // namespace kestrix::db
