#include "platform/services/log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/base/json.h"
#include "platform/base/error.h"
#include "platform/base/strings.h"
#include "platform/services/configuration.h"

namespace kestrix::services {

namespace fs = std::filesystem;

namespace {

constexpr const char* kFileName = "kestrix.log";

/// Line breaks (CR LF, CR, LF) become " | " so that an entry stays one line; other control
/// characters become blanks.
std::string OneLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += " | ";
        } else if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

/// A failure passed up through several methods reads "\r\nMETHOD: A caught: \r\nMETHOD: B
/// caught: what went wrong(8004020C).(8004020C)."; in the log the leading break is dropped so
/// that the entry starts with the words.
std::string_view Readable(std::string_view message) {
    while (!message.empty() && (message.front() == '\r' || message.front() == '\n' || message.front() == ' '))
        message.remove_prefix(1);
    return message;
}


/// Writes all of `data` with one write(2) where the system allows it. The file is opened
/// for appending, so lines of several processes never overwrite each other.
void WriteAll(int fd, const std::string& data) {
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw Error(errnum::E_FAIL, "Tavrel.Log.LogError",
                        std::string("Cannot write the log: ") + std::strerror(errno));
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
}

}  // namespace

Log::Log() : Log((fs::path(SiteHome()) / "var" / "log").string()) {}

Log::Log(std::string folder) : file_((fs::path(folder) / kFileName).string()) {}

void Log::LogError(std::string_view source, std::string_view message, int32_t code,
                   const Variant& extra) {
    LogFields fields;
    if (code != 0) fields.emplace_back("code", std::to_string(code));
    if (!extra.IsEmpty()) {
        std::string text = extra.IsNull() ? "Null" : extra.ToString();
        if (!text.empty()) fields.emplace_back("extra", std::move(text));
    }
    Write("error", source, message, fields);
}

void Log::LogInfo(std::string_view source, std::string_view message, const LogFields& fields) {
    Write("info", source, message, fields);
}

void Log::Write(std::string_view level, std::string_view source, std::string_view message,
                const LogFields& fields) {
    const char* format = std::getenv("KESTRIX_LOG_FORMAT");
    const bool json = format && IEquals(format, "json");
    const std::string time = DateTime::Now().Sortable();
    std::string line;
    if (json) {
        line = "{\"time\":" + JsonString(time) + ",\"pid\":" + std::to_string(::getpid()) +
               ",\"level\":" + JsonString(level) + ",\"source\":" + JsonString(source) +
               ",\"message\":" + JsonString(Readable(message));
        for (const auto& [key, value] : fields) line += "," + JsonString(key) + ":" + JsonString(value);
        line += "}\n";
    } else {
        line = time + " [" + std::to_string(::getpid()) + "] ";
        if (level != "error") line += std::string(level) + " ";
        line += OneLine(source);
        line += ": ";
        line += OneLine(Readable(message));
        for (const auto& [key, value] : fields) {
            line += ' ';
            line += key;
            line += '=';
            // A value with blanks is quoted so that the fields can be told apart.
            const std::string v = OneLine(value);
            line += v.find_first_of(" \"=") == std::string::npos && !v.empty() ? v : JsonString(v);
        }
        line += '\n';
    }

    int fd = ::open(file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
    if (fd < 0 && errno == ENOENT) {
        // The log folder is made the first time an entry finds it missing.
        std::error_code ec;
        fs::create_directories(fs::path(file_).parent_path(), ec);
        fd = ::open(file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
    }
    if (fd < 0) {
        throw Error(errnum::E_FAIL, "Tavrel.Log.LogError",
                    "Cannot open the log file '" + file_ + "': " + std::strerror(errno));
    }
    try {
        WriteAll(fd, line);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);

    const char* toStderr = std::getenv("KESTRIX_LOG_STDERR");
    if (level == "error" && toStderr && std::string_view(toStderr) == "1") {
        (void)!::write(STDERR_FILENO, line.data(), line.size());
    }
}

Variant Log::Invoke(std::string_view method, std::span<Variant> args) {
    if (IEquals(method, "LogError")) {
        if (args.size() < 2) {
            throw Error(450, "Tavrel.Log.LogError",
                        "Wrong number of arguments or invalid property assignment");
        }
        int32_t code = args.size() > 2 ? args[2].ToLong() : 0;
        Variant extra = args.size() > 3 ? args[3] : Variant();
        LogError(args[0].ToString(), args[1].ToString(), code, extra);
        return {};
    }
    return Object::Invoke(method, args);
}

}  // namespace kestrix::services
