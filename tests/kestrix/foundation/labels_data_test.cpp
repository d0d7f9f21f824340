// Consistency of the label texts delivered in data/labels: both languages cover the same
// codes, every text carries exactly the placeholders its callers fill in, and every code the
// sources use has a text.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kLabels = fs::path(KESTRIX_DATA_DIR) / "labels";
const char* const kLanguages[] = {"1033", "1031"};

/// One line of a label file, split at its first tab.
struct Row {
    int line = 0;
    std::string code;
    std::string text;  // raw, escapes not yet resolved
};

/// Reads a whole file as bytes.
std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << "cannot open " << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// Splits a label file into rows; a line without a tab is reported as a failure.
std::vector<Row> ReadRows(const fs::path& path) {
    std::vector<Row> rows;
    std::istringstream in(ReadFile(path));
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        size_t tab = line.find('\t');
        if (tab == std::string::npos) {
            ADD_FAILURE() << path.filename() << ":" << n << " has no tab: " << line;
            continue;
        }
        rows.push_back({n, line.substr(0, tab), line.substr(tab + 1)});
    }
    return rows;
}

/// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past
/// U+10FFFF).
bool IsUtf8(const std::string& s) {
    static const char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    for (size_t i = 0; i < s.size();) {
        const unsigned char lead = s[i];
        size_t extra;
        if (lead < 0x80)
            extra = 0;
        else if ((lead & 0xE0) == 0xC0)
            extra = 1;
        else if ((lead & 0xF0) == 0xE0)
            extra = 2;
        else if ((lead & 0xF8) == 0xF0)
            extra = 3;
        else
            return false;
        if (i + extra >= s.size() && extra > 0) return false;
        char32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
        for (size_t k = 1; k <= extra; ++k) {
            const unsigned char next = s[i + k];
            if ((next & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (next & 0x3F);
        }
        if (cp < kSmallest[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

/// Resolves the \n, \t and \\ escapes of a stored text; any other escape is an error.
bool Unescape(const std::string& raw, std::string& text) {
    text.clear();
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\') {
            text += raw[i];
            continue;
        }
        if (++i == raw.size()) return false;
        const char e = raw[i];
        if (e != 'n' && e != 't' && e != '\\') return false;
        text += e == 'n' ? '\n' : e == 't' ? '\t' : '\\';
    }
    return true;
}

/// The placeholders of a text; a "[%" that does not open a well-formed placeholder is
/// returned as itself so that it never matches a manifest entry.
std::set<std::string> Placeholders(const std::string& text) {
    static const std::regex kPlaceholder(R"(\[%[A-Za-z0-9_]+%\])");
    std::set<std::string> found;
    size_t wellFormed = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), kPlaceholder), end; it != end; ++it) {
        found.insert(it->str());
        ++wellFormed;
    }
    size_t opened = 0;
    for (size_t p = text.find("[%"); p != std::string::npos; p = text.find("[%", p + 2)) ++opened;
    if (opened != wellFormed) found.insert("[% (malformed)");
    return found;
}

/// The texts of one language, code to unescaped text.
std::map<std::string, std::string> Texts(const std::string& language) {
    std::map<std::string, std::string> texts;
    for (const Row& row : ReadRows(kLabels / (language + ".tsv"))) {
        std::string text;
        EXPECT_TRUE(Unescape(row.text, text)) << language << ":" << row.line << " bad escape";
        texts[row.code] = text;
    }
    return texts;
}

/// The manifest: code to the set of placeholders its callers replace.
std::map<std::string, std::set<std::string>> Manifest() {
    std::map<std::string, std::set<std::string>> manifest;
    for (const Row& row : ReadRows(kLabels / "placeholders.tsv")) {
        std::istringstream names(row.text);
        std::set<std::string>& set = manifest[row.code];
        for (std::string name; names >> name;) set.insert(name);
    }
    return manifest;
}

TEST(LabelsData, Utf8CheckAcceptsUmlautsAndRejectsMalformedBytes) {
    EXPECT_TRUE(IsUtf8("Empf\xC3\xA4nger \xE2\x82\xAC \xF0\x9F\x93\x84"));
    EXPECT_FALSE(IsUtf8("Empf\xE4nger"));  // Latin-1 byte
    EXPECT_FALSE(IsUtf8("\xC0\xAF"));      // overlong "/"
    EXPECT_FALSE(IsUtf8("\xED\xA0\x80"));  // surrogate
    EXPECT_FALSE(IsUtf8("abc\xC3"));       // cut short
    EXPECT_EQ(Placeholders("[%A%] and [%B%] and [%A%]"), (std::set<std::string>{"[%A%]", "[%B%]"}));
    EXPECT_EQ(Placeholders("[%DOCID] lost its end").count("[% (malformed)"), 1u);
}

TEST(LabelsData, FilesAreUtf8WithWellFormedSortedUniqueCodes) {
    static const std::regex kCode("(SLBSH|KXL)[0-9]{4}");
    for (const char* file : {"1033.tsv", "1031.tsv", "placeholders.tsv"}) {
        SCOPED_TRACE(file);
        const std::string bytes = ReadFile(kLabels / file);
        EXPECT_TRUE(IsUtf8(bytes));
        EXPECT_EQ(bytes.find('\r'), std::string::npos) << "carriage return in the file";
        std::string previous;
        std::set<std::string> seen;
        for (const Row& row : ReadRows(kLabels / file)) {
            EXPECT_TRUE(std::regex_match(row.code, kCode))
                << "line " << row.line << ": " << row.code;
            EXPECT_TRUE(seen.insert(row.code).second) << "duplicate code " << row.code;
            EXPECT_LT(previous, row.code) << "not sorted at line " << row.line;
            previous = row.code;
        }
        EXPECT_GT(seen.size(), 0u);
    }
}

TEST(LabelsData, BothLanguagesCoverExactlyTheManifestCodes) {
    const auto manifest = Manifest();
    for (const char* language : kLanguages) {
        SCOPED_TRACE(language);
        const auto texts = Texts(language);
        for (const auto& [code, names] : manifest)
            EXPECT_EQ(texts.count(code), 1u) << code << " has no text";
        for (const auto& [code, text] : texts) {
            EXPECT_EQ(manifest.count(code), 1u) << code << " is not in the manifest";
            EXPECT_FALSE(text.empty()) << code << " is empty";
            // Reference lists on the web pages quote label texts in double quotes.
            EXPECT_EQ(text.find('"'), std::string::npos) << code;
        }
    }
}

TEST(LabelsData, EveryTextCarriesExactlyItsManifestPlaceholders) {
    const auto manifest = Manifest();
    for (const char* language : kLanguages) {
        for (const auto& [code, text] : Texts(language)) {
            auto expected = manifest.find(code);
            if (expected == manifest.end()) continue;  // reported by the coverage test
            EXPECT_EQ(Placeholders(text), expected->second)
                << language << " " << code << ": " << text;
        }
    }
}

TEST(LabelsData, EveryCodeUsedInTheSourcesHasBothTexts) {
    static const std::regex kCode("(SLBSH|KXL)[0-9]{4}");
    const fs::path root = fs::path(KESTRIX_DATA_DIR).parent_path();
    std::map<std::string, std::string> used;  // code -> first file using it
    for (const char* folder : {"kestrix", "qelfile", "platform", "apps"}) {
        if (!fs::is_directory(root / folder)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
            const fs::path& path = entry.path();
            if (!entry.is_regular_file() ||
                (path.extension() != ".cpp" && path.extension() != ".h"))
                continue;
            const std::string source = ReadFile(path);
            for (std::sregex_iterator it(source.begin(), source.end(), kCode), end; it != end; ++it)
                used.emplace(it->str(), fs::relative(path, root).string());
        }
    }
    for (const char* language : kLanguages) {
        const auto texts = Texts(language);
        for (const auto& [code, file] : used)
            EXPECT_EQ(texts.count(code), 1u)
                << code << " (used in " << file << ") has no " << language << " text";
    }
}

}  // namespace
