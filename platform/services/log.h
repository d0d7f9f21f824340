#pragma once

#include <string>
#include <string_view>

#include "platform/base/object.h"
#include "platform/base/variant.h"

namespace kestrix::services {

/// The platform log ("Tavrel.Log"). Each entry is one line in the site's log file
/// (<site>/var/log/kestrix.log): local time, source and message, with line breaks inside the
/// message written as " | " so that one entry stays one line. When the environment variable
/// KESTRIX_LOG_STDERR is "1" (the command line sets it) the line also goes to stderr.
class Log : public Object {
public:
    /// A log writing under the site named by KESTRIX_HOME (the current folder when unset).
    Log();
    /// A log writing into the given folder.
    explicit Log(std::string folder);

    /// Records one entry. `code` and `extra` are accepted for the platform's call shape and
    /// written only when nonzero / non-empty.
    void LogError(std::string_view source, std::string_view message, int32_t code = 0,
                  const Variant& extra = {});

    /// Late-bound "LogError"(source, message, code, extra).
    Variant Invoke(std::string_view method, std::span<Variant> args) override;

    const std::string& file() const { return file_; }

private:
    std::string file_;
};

}  // namespace kestrix::services
