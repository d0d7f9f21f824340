#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/object.h"
#include "platform/base/variant.h"

namespace kestrix::services {

/// One installation of a product, as the installed-products lookup answers it.
struct InstalledProduct {
    std::string name;
    std::string serverConfigFolder;  ///< folder of QelServerConfiguration.xml
    std::string siteConfigFolder;    ///< folder of SiteConfiguration.xml
    std::string installFolder;       ///< the site's root folder
};

/// The configuration reader ("Tavrel.Configuration"). It loads one XML configuration file
/// and answers (section, key) questions from it:
///
///     <Configuration>
///       <Section name="GLOBAL">
///         <Key name="IISVirtId">1</Key>
///       </Section>
///       <Applications>
///         <Application name="Kestrix" id="1" connectionString="sqlite:/site/var/kestrix.db"/>
///       </Applications>
///     </Configuration>
///
/// Installed products come from the site folder named by KESTRIX_HOME: the one product
/// "QelServer" whose configuration folders are <site>/config and whose installation folder
/// is the site itself.
class Configuration : public Object {
public:
    Configuration() = default;

    /// Loads the file; a missing or malformed file raises an error naming the path and the
    /// parser's reason (line and column).
    void LoadFile(const std::string& path);
    const std::string& LoadedFile() const { return path_; }

    /// The value of key `key` in section `section` (both compared ignoring case), as text;
    /// Empty when absent.
    Variant GetValue(std::string_view section, std::string_view key) const;
    /// The connection string of application `application`; an error when the loaded file
    /// has none.
    std::string ConnectionString(std::string_view application) const;
    /// The identifier of application `application`; an error when unknown.
    int32_t ApplicationId(std::string_view application) const;
    /// All applications of the loaded file (name -> identifier).
    std::map<std::string, int32_t> Applications() const;

    /// The installations of `product`; empty when the product is not installed.
    static std::vector<InstalledProduct> InstalledProducts(std::string_view product);
    /// The folder under which the attachment path and the per-document attachment folders
    /// lie: the site configuration's GLOBAL "AttachmentsRoot", else the site folder.
    static std::string RootFolder();

    /// Sets a value in a configuration file and writes the file back (creating section and
    /// key as needed). Used by the command line that sets a site up.
    static void SetValue(const std::string& path, std::string_view section, std::string_view key,
                         std::string_view value);
    /// Adds an application (or changes its connection string) in a server configuration
    /// file; returns its identifier.
    static int32_t SetApplication(const std::string& path, std::string_view application,
                                  std::optional<std::string> connectionString);

    /// Late-bound "LoadFile", "GetValue", "ConnectionString", "ApplicationId".
    Variant Invoke(std::string_view method, std::span<Variant> args) override;

    /// One application of a server configuration file.
    struct AppEntry {
        std::string name;
        int32_t id;
        std::string connectionString;
    };
    /// What a file holds, as read once. Never changed after it is read, so that the
    /// configurations of one thread that loaded the same unchanged file share it.
    struct Contents {
        // section (upper case) -> key (upper case) -> value
        std::map<std::string, std::map<std::string, std::string>> values;
        std::vector<AppEntry> apps;
    };

private:
    /// Reads and parses the file (LoadFile answers from the thread's copy while the file is
    /// unchanged).
    std::shared_ptr<const Contents> ParseFile(const std::string& path) const;

    std::string path_;
    std::shared_ptr<const Contents> contents_ = std::make_shared<const Contents>();
};

/// The site folder: KESTRIX_HOME, or the current folder when unset.
std::string SiteHome();

}  // namespace kestrix::services
