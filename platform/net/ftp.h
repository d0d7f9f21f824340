#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/net/transport.h"

namespace kestrix::net {

/// How an FTP server is told to store the bytes. SFTP has no such mode and ignores it.
enum class FtpTransferType { Ascii, Binary };

/// Everything an upload needs beside the address, the file name and the bytes.
struct FtpOptions {
    std::string user;
    /// The login password; with `privateKeyFile` (SFTP) the key's passphrase, if any.
    std::string password;
    /// Used when the address names no port; 0 or below: the scheme's default port.
    int port = 0;
    /// Empty: direct. Otherwise a proxy that tunnels the connection (HTTP CONNECT or SOCKS).
    std::string proxy;
    int proxyPort = 0;

    FtpTransferType transferType = FtpTransferType::Binary;
    /// "ftp://" only: insist on TLS for the login and the data (AUTH TLS); a server that
    /// cannot is a failure, never a fallback to plain text. "ftps://" is always TLS.
    bool explicitTls = false;
    /// The server connects back for the data (PORT) instead of the default passive mode.
    bool activeMode = false;
    /// The address the server is told to connect back to in active mode; "-": the address
    /// of the control connection.
    std::string activeAddress = "-";
    /// TLS: certificates to trust instead of the system's (tests, private authorities).
    std::string caFile;

    /// SFTP: the private key to log in with (OpenSSH or PEM format); empty: the password.
    std::string privateKeyFile;
    /// SFTP: the public half, when it is not beside the key or cannot be derived from it.
    std::string publicKeyFile;
    /// SFTP: the known-hosts file that must hold the server's host key. Required: a server
    /// whose key is missing from it or differs is refused.
    std::string knownHostsFile;

    /// Upload as ".NAME.part" and rename to NAME afterwards, so that a partner's poller
    /// never picks up half a file. Off for servers that refuse renames: then NAME grows
    /// while it is written.
    bool uploadUnderTemporaryName = true;

    Timeouts timeouts;
};

/// Puts `data` as the file `fileName` on the server of `address`: "ftp://" (plain, or TLS
/// with `explicitTls`), "ftps://" (TLS from the first byte) or "sftp://" (SSH), then the
/// host, an optional ":port" and an optional folder ("/in/orders"). The folder is taken
/// from the root of the server ("CWD /in/orders"); without one the file goes to the login
/// folder. Missing folders are not created. Credentials come from the options; an
/// address's own "user:password@" is used when the options have no user.
/// Failures raise `TransportError` naming the host and port, the folder and the step (connect,
/// log in, change folder, store, rename); after a failure during or after the store the
/// part file is removed from the server when it still answers.
void FtpPut(std::string_view address, std::string_view fileName, std::string_view data,
            const FtpOptions& options);

/// As `FtpPut`, with the bytes of a local file.
void FtpPutFile(std::string_view address, std::string_view fileName,
                const std::filesystem::path& localFile, const FtpOptions& options);

}  // namespace kestrix::net
