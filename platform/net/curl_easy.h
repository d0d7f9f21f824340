#pragma once
// Inside platform/net only: the transfer library's handles behind RAII owners, and the
// settings and error texts that every transport of this room shares.

#include <curl/curl.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/net/transport.h"

namespace kestrix::net::detail {

/// Initialises the transfer library for the process, once, before the first handle.
void EnsureCurl();

/// One transfer handle with its error buffer; cleaned up when the owner goes.
class CurlEasy {
  public:
    CurlEasy();
    CurlEasy(const CurlEasy&) = delete;
    CurlEasy& operator=(const CurlEasy&) = delete;

    CURL* get() const noexcept { return handle_.get(); }
    /// The library's own text for the last failure, or its generic text for `code`.
    std::string Reason(CURLcode code) const;

    /// Sets an option; a failure (an option this build lacks) throws `TransportError`.
    template <typename T>
    void Set(CURLoption option, T value) {
        CURLcode rc = curl_easy_setopt(handle_.get(), option, value);
        if (rc != CURLE_OK) ThrowSetting(option, rc);
    }

    /// The connect and whole-transfer limits, no signals, no progress meter.
    void ApplyTimeouts(const Timeouts& timeouts);
    /// A proxy ("host", "host:port" or "scheme://host"), with `port` when above 0; nothing
    /// when `proxy` is empty.
    void ApplyProxy(const std::string& proxy, long port);

    long ResponseCode() const;

  private:
    [[noreturn]] void ThrowSetting(CURLoption option, CURLcode rc) const;

    struct Cleanup {
        void operator()(CURL* c) const noexcept { curl_easy_cleanup(c); }
    };
    std::unique_ptr<CURL, Cleanup> handle_;
    std::unique_ptr<char[]> errorBuffer_;
};

/// A list of texts for the handle (quote commands, headers); freed when the owner goes.
class CurlList {
  public:
    CurlList() = default;
    CurlList(const CurlList&) = delete;
    CurlList& operator=(const CurlList&) = delete;

    void Append(const std::string& text);
    curl_slist* get() const noexcept { return list_.get(); }

  private:
    struct Free {
        void operator()(curl_slist* l) const noexcept { curl_slist_free_all(l); }
    };
    std::unique_ptr<curl_slist, Free> list_;
};

/// Whether a failure of the library may pass by itself: no connection, a time-out, a
/// connection that broke off. Certificate, host key, login and address failures are not.
bool IsTransientCode(CURLcode code);

/// The step of reaching the server that a failure names ("connect", "verify the server's
/// certificate"), or "" when the failure came later.
std::string ConnectionStep(CURLcode code, const std::string& proxy);

/// `text` with every occurrence of `secret` replaced by "***" (when the secret is long
/// enough to be told from ordinary words), for texts that come from a server or library.
std::string Scrub(std::string text, std::string_view secret);

}  // namespace kestrix::net::detail
