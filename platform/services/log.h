#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/base/object.h"
#include "platform/base/variant.h"

namespace kestrix::services {

/// Named values that go with an entry ("document", "42"), in the order given.
using LogFields = std::vector<std::pair<std::string, std::string>>;

/// The platform log ("Tavrel.Log"). Each entry is one line in the site's log file
/// (<site>/var/log/kestrix.log): local time, process, source and message, with line breaks
/// inside the message written as " | " so that one entry stays one line, then the fields as
/// key=value. When the environment variable KESTRIX_LOG_FORMAT is "json" (the command line
/// sets it from the site setting "LogFormat") each entry is a JSON object on one line
/// instead, for log collectors. When KESTRIX_LOG_STDERR is "1" (the command line sets it)
/// error entries also go to stderr.
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
    /// Records one information entry (what was done, not a failure), with its fields.
    void LogInfo(std::string_view source, std::string_view message, const LogFields& fields = {});

    /// Late-bound "LogError"(source, message, code, extra).
    Variant Invoke(std::string_view method, std::span<Variant> args) override;

    const std::string& file() const { return file_; }

private:
    void Write(std::string_view level, std::string_view source, std::string_view message,
               const LogFields& fields);

    std::string file_;
};

}  // namespace kestrix::services
