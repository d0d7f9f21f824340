#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace kestrix {

/// Numbers of failures that do not come from the application's own error codes.
namespace errnum {
/// Unspecified failure: the number of a library or platform failure that has none of its own.
inline constexpr int32_t E_FAIL = static_cast<int32_t>(0x80004005u);
/// A conversion whose result does not fit the target type.
inline constexpr int32_t Overflow = 6;
/// A value that cannot be converted to the requested type.
inline constexpr int32_t TypeMismatch = 13;
/// A late-bound call of a method the object does not have.
inline constexpr int32_t MethodNotSupported = 438;
/// A field name that the row does not hold.
inline constexpr int32_t ItemNotFound = 3265;
/// The database stayed locked by another connection for longer than the busy time-out.
inline constexpr int32_t DatabaseBusy = static_cast<int32_t>(0x80040000u + 700);
}  // namespace errnum

/// The one exception type of the system: a numbered error with its source, its description
/// and the help reference that travels with it unchanged.
class Error : public std::exception {
public:
    Error(int32_t number, std::string source, std::string description, std::string helpFile = {},
          int32_t helpContext = 0)
        : number_(number),
          source_(std::move(source)),
          description_(std::move(description)),
          helpFile_(std::move(helpFile)),
          helpContext_(helpContext) {}

    int32_t number() const noexcept { return number_; }
    const std::string& source() const noexcept { return source_; }
    const std::string& description() const noexcept { return description_; }
    const std::string& helpFile() const noexcept { return helpFile_; }
    int32_t helpContext() const noexcept { return helpContext_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    int32_t number_;
    std::string source_;
    std::string description_;
    std::string helpFile_;
    int32_t helpContext_;
};

/// The error being handled, as an `Error`: an `Error` as it is, any other standard exception
/// as E_FAIL with its message, anything else as E_FAIL "Unknown failure". Without a
/// current exception the result has number 0.
Error CurrentError();

/// The number in upper-case hexadecimal without prefix or leading zeros ("800401FD").
std::string HexNumber(int32_t number);

}  // namespace kestrix
