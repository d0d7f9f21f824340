#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/db/recordset.h"
#include "tests/support/backends.h"

namespace kestrix::test {

/// A complete site in a temporary folder on a scratch database of one backend, made with
/// the same code as `kestrix init`. While it lives, the calling thread works on it
/// (KESTRIX_HOME points at it and the thread's caches are emptied); afterwards they are
/// emptied again.
class TestSite {
public:
    explicit TestSite(const std::string& backend);
    ~TestSite();
    TestSite(const TestSite&) = delete;
    TestSite& operator=(const TestSite&) = delete;

    const std::filesystem::path& root() const { return dir_.path(); }
    const std::string& connectionString() const { return database_.connectionString(); }
    const std::string& backend() const { return database_.backend(); }
    /// Sets (adds or changes) a server parameter.
    void SetParameter(const std::string& name, const std::string& value) const;
    /// The text of the site's log file ("" when nothing was logged).
    std::string LogText() const;

    /// Runs one statement on the site's database; answers the number of rows it changed.
    int64_t Exec(const std::string& sql) const;
    /// The rows a query on the site's database answers.
    db::Recordset Query(const std::string& sql) const;
    /// The number of rows of `from` (a table, or a table followed by " WHERE ..."), limited
    /// further by the condition `where` when one is given.
    int64_t Count(const std::string& from, const std::string& where = {}) const;
    /// Adds the user `login` to the partner with the identifier `partner`: languages 1033,
    /// the locale given (0 for none), first name the login, second name "Tester", password
    /// "pw-" login, and the e-mail address given ("" for none).
    void AddUser(const std::string& login, int32_t partner, const std::string& email = {},
                 int32_t locale = 1033) const;
    /// Registers the classes of the example plug-in (tests/plugins/kestrix_test_plugin:
    /// "KestrixTest.Receiver", "KestrixTest.Judge") in the site's components file.
    void RegisterTestPlugin() const;
    /// The example plug-in library as built.
    static std::filesystem::path TestPluginLibrary();

  private:
    ScratchDatabase database_;
    TempDir dir_;
};

/// A site with two partners: Acme, whose user alice may send orders (and is notified), and
/// Bolt, whose users bob and carol receive them by e-mail. The document types are ORDER and
/// INVOICE; Acme's orders come in through the style sheet xsl/acme-order.xsl, which marks
/// the root element with standard="1".
class TwoPartnerSite : public TestSite {
  public:
    explicit TwoPartnerSite(const std::string& backend);

    int32_t acme() const { return acme_; }
    int32_t bolt() const { return bolt_; }

  private:
    int32_t acme_ = 0;
    int32_t bolt_ = 0;
};

}  // namespace kestrix::test
