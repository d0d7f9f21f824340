#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/base/error.h"

namespace kestrix::net {

/// Error numbers of this room. A transfer library failure carries `TransferErrorBase` plus
/// the library's own code, a file system failure `FileErrorBase` plus the system's error
/// number, so that two different faults never share a number.
namespace neterr {
inline constexpr int32_t TransferErrorBase = static_cast<int32_t>(0x80A40000u);
inline constexpr int32_t FileErrorBase = static_cast<int32_t>(0x80A41000u);
/// An address without a known scheme or without a host.
inline constexpr int32_t InvalidAddress = static_cast<int32_t>(0x80A4F001u);
/// A setting that cannot work (an SFTP target without known hosts, an empty file name...).
inline constexpr int32_t InvalidSetting = static_cast<int32_t>(0x80A4F002u);
/// The target file exists and the caller asked not to replace it.
inline constexpr int32_t TargetExists = static_cast<int32_t>(0x80A4F003u);
/// A web page answered with a status other than 200.
inline constexpr int32_t HttpStatus = static_cast<int32_t>(0x80A4F004u);
}  // namespace neterr

/// A delivery that failed. The description names what failed (host and port, folder, file,
/// the step) and never holds a password. `transient()` tells a failure that may pass by
/// itself (no connection, a time-out, a full disk, a server's "try later") from one that
/// will fail the same way until someone changes something (a refused login, a missing
/// folder, a certificate or host key that does not verify, a bad address).
class TransportError : public Error {
  public:
    TransportError(int32_t number, std::string source, std::string description,
                   bool transient = false)
        : Error(number, std::move(source), std::move(description)), transient_(transient) {}

    bool transient() const noexcept { return transient_; }

  private:
    bool transient_;
};

/// The two limits of every transfer.
struct Timeouts {
    /// Until the connection (with its TLS or SSH handshake) stands.
    std::chrono::milliseconds connect{std::chrono::seconds(30)};
    /// The whole exchange, connection included.
    std::chrono::milliseconds transfer{std::chrono::minutes(5)};
};

}  // namespace kestrix::net
