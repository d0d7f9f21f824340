#include "platform/workbook/workbook.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/base/strings.h"
#include "platform/workbook/legacy.h"
#include "platform/workbook/package.h"
#include "platform/workbook/sheet.h"
#include "platform/workbook/xml_part.h"

namespace kestrix::workbook {

using detail::DocPtr;
using detail::Fail;

namespace {

constexpr const char* kContentTypesPart = "[Content_Types].xml";
constexpr const char* kRelationshipsNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr const char* kWorksheetType = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet";
constexpr const char* kSharedStringsType =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings";
constexpr const char* kCustomPropertiesType =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/custom-properties";
constexpr const char* kWorksheetContentType = "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml";
constexpr const char* kSharedStringsContentType =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml";
constexpr const char* kCustomPropertiesContentType = "application/vnd.openxmlformats-officedocument.custom-properties+xml";
constexpr const char* kVariantTypesNs = "http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes";
// The format identifier every custom property carries.
constexpr const char* kCustomPropertyFormat = "{D5CDD505-2E9C-101B-9397-08002B2CF9AE}";

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

std::string Attr(const xmlNode* node, const char* name) { return detail::Attribute(node, name).value_or(""); }

void SetAttr(xmlNode* node, const char* name, const std::string& value) {
    xmlSetProp(node, BAD_CAST name, BAD_CAST value.c_str());
}

void RemoveNode(xmlNode* node) {
    xmlUnlinkNode(node);
    xmlFreeNode(node);
}

std::string FormatDouble(double value) {
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, end);
}

std::optional<DateTime> ParseFileTime(std::string_view text) {
    int y, mo, d, h = 0, mi = 0, s = 0;
    if (std::sscanf(std::string(text).c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s) < 3) return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return std::nullopt;
    return DateTime::FromParts(y, mo, d, h, mi, s);
}

std::string ReadFileBytes(const std::string& path, const Limits& limits) {
    std::error_code ec;
    auto size = std::filesystem::file_size(path, ec);
    if (ec) Fail(wberr::FileError, "The workbook file " + path + " cannot be read: " + ec.message());
    if (size > limits.maxPackageBytes)
        Fail(wberr::LimitExceeded, "The workbook file " + path + " is larger than " +
                                       std::to_string(limits.maxPackageBytes) + " bytes");
    std::ifstream in(path, std::ios::binary);
    std::string bytes(static_cast<size_t>(size), '\0');
    if (!in || !in.read(bytes.data(), static_cast<std::streamsize>(size)))
        Fail(wberr::FileError, "The workbook file " + path + " cannot be read: " + std::strerror(errno));
    return bytes;
}

struct SheetEntry {
    xmlNode* node = nullptr;  // <sheet> of the workbook part
    std::string part;         // entry name of its part
    SheetKind kind = SheetKind::Worksheet;
    bool added = false;  // made since the package was read
    std::unique_ptr<Worksheet> sheet;
};

// A part held as a tree, written back only when changed.
struct TreePart {
    std::string name;
    DocPtr doc;
    bool dirty = false;
};

}  // namespace

struct Workbook::Impl {
    std::unique_ptr<detail::Package> package;
    bool toWorkbook = false;  // a template saved as a workbook
    TreePart contentTypes, rootRels, workbook, workbookRels;
    std::vector<SheetEntry> sheets;
    detail::SharedStrings strings;
    detail::Formats formats;
    std::string stylesPart;   // entry name, empty when there is none
    bool stringsLoaded = false;  // and the formats
    std::string stringsPart;  // entry name, empty when there is none
    bool stringsPartAdded = false;
    mutable TreePart custom;
    mutable bool customLoaded = false;
    std::set<std::string> removed;
    bool legacy = false;  // read from a legacy binary workbook: nothing may change

    void CheckWritable() const {
        if (legacy) Fail(wberr::ReadOnly, "a legacy binary workbook can be read but not changed");
    }

    void Load();
    TreePart LoadTree(const std::string& part, bool required) const;
    std::string WorkbookContentType() const;
    xmlNode* ContentTypeOverride(const std::string& part) const;
    void AddOverride(const std::string& part, const char* contentType);
    std::string AddRelationship(TreePart& rels, const char* type, const std::string& target);
    xmlNode* FindRelationship(TreePart& rels, std::string_view id) const;
    std::string NewPartName(const std::string& folder, const std::string& stem) const;
    void LoadShared();
    xmlNode* SheetsElement() const { return detail::FirstChild(xmlDocGetRootElement(workbook.doc.get()), "sheets"); }
    SheetEntry& Entry(size_t index);
    void CheckNewName(std::string_view name, const SheetEntry* self) const;
    size_t VisibleCount() const;
    xmlNode* ActiveSheetNode() const;
    void KeepViews(const xmlNode* active);
    void RemapLocalNames(const std::vector<long>& newIndexOfOld);
    void LoadCustom() const;
    void DropCalculationChain();
    std::vector<std::pair<std::string, std::string>> Changes();
};

// ---------------------------------------------------------------------------------------
// Reading the package

TreePart Workbook::Impl::LoadTree(const std::string& part, bool required) const {
    TreePart tree;
    auto entry = package->Find(part);
    if (!entry) {
        if (required) Fail(wberr::NotAWorkbook, "The file is not a workbook: its package has no part " + part);
        return tree;
    }
    tree.name = *entry;
    tree.doc = detail::ParseXml(package->Read(*entry), *entry);
    return tree;
}

xmlNode* Workbook::Impl::ContentTypeOverride(const std::string& part) const {
    for (xmlNode* o : detail::Children(xmlDocGetRootElement(contentTypes.doc.get()), "Override"))
        if (IEquals(Attr(o, "PartName"), "/" + part)) return o;
    return nullptr;
}

std::string Workbook::Impl::WorkbookContentType() const {
    xmlNode* o = ContentTypeOverride(workbook.name);
    return o ? Attr(o, "ContentType") : "";
}

void Workbook::Impl::AddOverride(const std::string& part, const char* contentType) {
    if (ContentTypeOverride(part)) return;
    xmlNode* o = detail::AppendElement(xmlDocGetRootElement(contentTypes.doc.get()), "Override");
    SetAttr(o, "PartName", "/" + part);
    SetAttr(o, "ContentType", contentType);
    contentTypes.dirty = true;
}

std::string Workbook::Impl::AddRelationship(TreePart& rels, const char* type, const std::string& target) {
    xmlNode* root = xmlDocGetRootElement(rels.doc.get());
    long highest = 0;
    for (xmlNode* r : detail::Children(root, "Relationship")) {
        std::string id = Attr(r, "Id");
        if (IStartsWith(id, "rId")) highest = std::max(highest, std::strtol(id.c_str() + 3, nullptr, 10));
    }
    std::string id = "rId" + std::to_string(highest + 1);
    xmlNode* r = detail::AppendElement(root, "Relationship");
    SetAttr(r, "Id", id);
    SetAttr(r, "Type", type);
    SetAttr(r, "Target", target);
    rels.dirty = true;
    return id;
}

xmlNode* Workbook::Impl::FindRelationship(TreePart& rels, std::string_view id) const {
    for (xmlNode* r : detail::Children(xmlDocGetRootElement(rels.doc.get()), "Relationship"))
        if (Attr(r, "Id") == id) return r;
    return nullptr;
}

void Workbook::Impl::Load() {
    contentTypes = LoadTree(kContentTypesPart, true);
    rootRels = LoadTree("_rels/.rels", true);
    for (xmlNode* r : detail::Children(xmlDocGetRootElement(rootRels.doc.get()), "Relationship")) {
        if (Attr(r, "TargetMode") == "External") continue;
        std::string type = Attr(r, "Type");
        if (EndsWith(type, "/officeDocument") && workbook.name.empty())
            workbook.name = detail::ResolveTarget("", Attr(r, "Target"));
        else if (EndsWith(type, "/custom-properties"))
            custom.name = detail::ResolveTarget("", Attr(r, "Target"));
    }
    if (workbook.name.empty()) Fail(wberr::NotAWorkbook, "The file is not a workbook: its package names no main part");
    if (EndsWith(ToLower(workbook.name), ".bin"))
        Fail(wberr::NotAWorkbook, "The workbook is stored in binary form (" + workbook.name + "), which is not read");
    workbook = LoadTree(workbook.name, true);
    if (detail::LocalName(xmlDocGetRootElement(workbook.doc.get())) != "workbook")
        Fail(wberr::NotAWorkbook, "The file is not a workbook: its main part " + workbook.name + " is no workbook");
    workbookRels = LoadTree(detail::RelationshipsPartOf(workbook.name), false);
    if (!workbookRels.doc) {
        workbookRels.name = detail::RelationshipsPartOf(workbook.name);
        workbookRels.doc = detail::ParseXml(
            "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"/>", workbookRels.name);
    }
    std::map<std::string, std::pair<std::string, std::string>> rels;  // id -> type, part
    for (xmlNode* r : detail::Children(xmlDocGetRootElement(workbookRels.doc.get()), "Relationship")) {
        if (Attr(r, "TargetMode") == "External") continue;
        std::string part = detail::ResolveTarget(workbook.name, Attr(r, "Target"));
        rels[Attr(r, "Id")] = {Attr(r, "Type"), part};
        if (EndsWith(Attr(r, "Type"), "/sharedStrings") && stringsPart.empty())
            stringsPart = package->Find(part).value_or("");
        if (EndsWith(Attr(r, "Type"), "/styles") && stylesPart.empty()) stylesPart = package->Find(part).value_or("");
    }
    for (xmlNode* s : detail::Children(SheetsElement(), "sheet")) {
        SheetEntry entry;
        entry.node = s;
        auto id = detail::RelationshipId(s);
        auto rel = id ? rels.find(*id) : rels.end();
        if (rel == rels.end())
            Fail(wberr::NotAWorkbook, "The workbook is damaged: the sheet \"" + Attr(s, "name") + "\" has no part");
        entry.part = rel->second.second;
        entry.kind = EndsWith(rel->second.first, "/worksheet")    ? SheetKind::Worksheet
                     : EndsWith(rel->second.first, "/chartsheet") ? SheetKind::ChartSheet
                                                                  : SheetKind::Other;
        sheets.push_back(std::move(entry));
    }
    if (sheets.empty()) Fail(wberr::NotAWorkbook, "The workbook is damaged: it has no sheet");
}

void Workbook::Impl::LoadShared() {
    if (stringsLoaded) return;
    if (!stringsPart.empty()) strings.Load(package->Read(stringsPart), stringsPart);
    xmlNode* properties = detail::FirstChild(xmlDocGetRootElement(workbook.doc.get()), "workbookPr");
    const std::string date1904 = Attr(properties, "date1904");
    formats.Load(stylesPart.empty() ? DocPtr() : detail::ParseXml(package->Read(stylesPart), stylesPart), stylesPart,
                 date1904 == "1" || date1904 == "true");
    stringsLoaded = true;
}

std::string Workbook::Impl::NewPartName(const std::string& folder, const std::string& stem) const {
    for (int n = 1;; ++n) {
        std::string name = folder + stem + std::to_string(n) + ".xml";
        bool taken = package->Find(name).has_value() || removed.count(name);
        for (const auto& e : sheets) taken = taken || IEquals(e.part, name);
        if (!taken) return name;
    }
}

// ---------------------------------------------------------------------------------------
// Sheets

SheetEntry& Workbook::Impl::Entry(size_t index) {
    if (index >= sheets.size())
        Fail(wberr::InvalidSheet, "The workbook has no sheet " + std::to_string(index + 1) + " (it has " +
                                      std::to_string(sheets.size()) + ")");
    return sheets[index];
}

void Workbook::Impl::CheckNewName(std::string_view name, const SheetEntry* self) const {
    if (auto problem = SheetNameProblem(name)) Fail(wberr::InvalidSheetName, *problem);
    auto folded = detail::FoldName(name);
    for (const auto& e : sheets)
        if (&e != self && detail::FoldName(Attr(e.node, "name")) == folded)
            Fail(wberr::InvalidSheetName, "The workbook already has a sheet named \"" + Attr(e.node, "name") + "\"");
}

size_t Workbook::Impl::VisibleCount() const {
    return static_cast<size_t>(std::count_if(sheets.begin(), sheets.end(), [](const SheetEntry& e) {
        return Attr(e.node, "state").empty() || Attr(e.node, "state") == "visible";
    }));
}

xmlNode* Workbook::Impl::ActiveSheetNode() const {
    xmlNode* views = detail::FirstChild(xmlDocGetRootElement(workbook.doc.get()), "bookViews");
    xmlNode* view = detail::FirstChild(views, "workbookView");
    size_t active = view ? std::strtoul(Attr(view, "activeTab").c_str(), nullptr, 10) : 0;
    return active < sheets.size() ? sheets[active].node : nullptr;
}

// After sheets were deleted, moved or hidden: the views keep showing the sheet they showed
// when it is still there and visible, else the first visible sheet.
void Workbook::Impl::KeepViews(const xmlNode* active) {
    auto visible = [](const SheetEntry& e) { return Attr(e.node, "state").empty() || Attr(e.node, "state") == "visible"; };
    size_t index = sheets.size();
    for (size_t i = 0; i < sheets.size(); ++i)
        if (sheets[i].node == active && visible(sheets[i])) index = i;
    if (index == sheets.size())
        index = static_cast<size_t>(std::find_if(sheets.begin(), sheets.end(), visible) - sheets.begin());
    if (index == sheets.size()) index = 0;  // a package whose sheets are all hidden
    xmlNode* views = detail::FirstChild(xmlDocGetRootElement(workbook.doc.get()), "bookViews");
    for (xmlNode* view : detail::Children(views, "workbookView")) {
        SetAttr(view, "activeTab", std::to_string(index));
        if (detail::Attribute(view, "firstSheet") &&
            std::strtoul(Attr(view, "firstSheet").c_str(), nullptr, 10) > index)
            SetAttr(view, "firstSheet", std::to_string(index));
    }
    workbook.dirty = true;
}

// Names that belong to one sheet carry its index: they follow their sheet, and go with it.
void Workbook::Impl::RemapLocalNames(const std::vector<long>& newIndexOfOld) {
    xmlNode* names = detail::FirstChild(xmlDocGetRootElement(workbook.doc.get()), "definedNames");
    for (xmlNode* name : detail::Children(names, "definedName")) {
        auto local = detail::Attribute(name, "localSheetId");
        if (!local) continue;
        size_t old = std::strtoul(local->c_str(), nullptr, 10);
        if (old >= newIndexOfOld.size()) continue;
        if (newIndexOfOld[old] < 0) RemoveNode(name);
        else SetAttr(name, "localSheetId", std::to_string(newIndexOfOld[old]));
    }
    if (names && !detail::FirstChild(names, "definedName")) RemoveNode(names);
}

// The order in which the application computed the formulas names cells and sheets; once
// either changed, it goes, and the application makes it anew.
void Workbook::Impl::DropCalculationChain() {
    for (xmlNode* r : detail::Children(xmlDocGetRootElement(workbookRels.doc.get()), "Relationship")) {
        if (!EndsWith(Attr(r, "Type"), "/calcChain")) continue;
        std::string part = detail::ResolveTarget(workbook.name, Attr(r, "Target"));
        if (auto entry = package->Find(part)) removed.insert(*entry);
        if (xmlNode* o = ContentTypeOverride(part)) {
            RemoveNode(o);
            contentTypes.dirty = true;
        }
        RemoveNode(r);
        workbookRels.dirty = true;
    }
}

// ---------------------------------------------------------------------------------------
// Custom properties

void Workbook::Impl::LoadCustom() const {
    if (customLoaded) return;
    customLoaded = true;
    if (custom.name.empty()) return;
    auto entry = package->Find(custom.name);
    if (!entry) {
        custom.name.clear();
        return;
    }
    custom.name = *entry;
    custom.doc = detail::ParseXml(package->Read(*entry), *entry);
}

namespace {

std::optional<Variant> PropertyValue(const xmlNode* property) {
    for (const xmlNode* v = property->children; v; v = v->next) {
        std::string_view type = detail::LocalName(v);
        if (type.empty()) continue;
        std::string text = detail::TextOf(v);
        if (type == "lpwstr" || type == "lpstr" || type == "bstr") return Variant(text);
        if (type == "bool") return Variant(text == "true" || text == "1");
        if (type == "filetime" || type == "date") {
            if (auto date = ParseFileTime(text)) return Variant(*date);
            return std::nullopt;
        }
        if (type == "r4" || type == "r8" || type == "decimal" || type == "int" || type == "uint" ||
            ((type[0] == 'i' || type.starts_with("ui")) && type.size() <= 3)) {
            double number = 0;
            std::string trimmed = Trim(text);
            auto [end, ec] = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), number);
            if (ec != std::errc() || end != trimmed.data() + trimmed.size()) return std::nullopt;
            return Variant(number);
        }
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Writing

std::vector<std::pair<std::string, std::string>> Workbook::Impl::Changes() {
    std::vector<std::pair<std::string, std::string>> parts;
    bool cellsChanged = false;
    for (auto& e : sheets)
        if (e.sheet && (e.sheet->impl().modified || e.added)) {
            parts.emplace_back(e.part, e.sheet->impl().Xml());
            cellsChanged = cellsChanged || e.sheet->impl().modified;
        }
    if (strings.Grown()) {
        if (stringsPart.empty()) {
            const std::string folder = workbook.name.substr(0, workbook.name.rfind('/') + 1);
            stringsPart = folder + "sharedStrings.xml";
            if (package->Find(stringsPart) || removed.count(stringsPart)) stringsPart = NewPartName(folder, "sharedStrings");
            AddRelationship(workbookRels, kSharedStringsType, detail::RelativeTarget(workbook.name, stringsPart));
            AddOverride(stringsPart, kSharedStringsContentType);
            stringsPartAdded = true;
        }
        DocPtr doc = stringsPartAdded
                         ? detail::ParseXml("<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"/>",
                                            stringsPart)
                         : detail::ParseXml(package->Read(stringsPart), stringsPart);
        xmlNode* root = xmlDocGetRootElement(doc.get());
        for (size_t i = strings.OriginalCount(); i < strings.Items().size(); ++i) {
            xmlNode* si = detail::AppendElement(root, "si");
            xmlNode* t = detail::AppendElement(si, "t");
            std::string text = detail::EncodeEscapes(strings.Items()[i]);
            xmlNodeAddContentLen(t, BAD_CAST text.data(), static_cast<int>(text.size()));
            if (!text.empty() && (std::isspace(static_cast<unsigned char>(text.front())) ||
                                  std::isspace(static_cast<unsigned char>(text.back()))))
                xmlNodeSetSpacePreserve(t, 1);
        }
        xmlUnsetProp(root, BAD_CAST "count");
        SetAttr(root, "uniqueCount", std::to_string(strings.Items().size()));
        parts.emplace_back(stringsPart, detail::Serialize(doc.get()));
    }
    if (formats.Changed()) parts.emplace_back(formats.PartName(), detail::Serialize(formats.Doc()));
    if (cellsChanged) {
        // Values changed under the formulas: the application computes them anew on opening.
        xmlNode* root = xmlDocGetRootElement(workbook.doc.get());
        xmlNode* calculation = detail::FirstChild(root, "calcPr");
        if (!calculation) {
            xmlNode* after = nullptr;
            for (const char* name : {"sheets", "functionGroups", "externalReferences", "definedNames"})
                if (xmlNode* n = detail::FirstChild(root, name)) after = n;
            calculation = xmlNewDocNode(workbook.doc.get(), root->ns, BAD_CAST "calcPr", nullptr);
            xmlAddNextSibling(after, calculation);
        }
        SetAttr(calculation, "fullCalcOnLoad", "1");
        workbook.dirty = true;
        DropCalculationChain();
    }
    if (toWorkbook) {
        if (xmlNode* o = ContentTypeOverride(workbook.name)) {
            std::string type = Attr(o, "ContentType");
            SetAttr(o, "ContentType", ReplaceAll(type, ".template.", ".sheet."));
            contentTypes.dirty = true;
        }
    }
    for (TreePart* tree : {&workbook, &workbookRels, &rootRels, &custom, &contentTypes})
        if (tree->dirty && tree->doc) parts.emplace_back(tree->name, detail::Serialize(tree->doc.get()));
    return parts;
}

// ---------------------------------------------------------------------------------------
// The public face

Workbook::Workbook(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Workbook::Workbook(Workbook&&) noexcept = default;
Workbook& Workbook::operator=(Workbook&&) noexcept = default;
Workbook::~Workbook() = default;

Workbook Workbook::FromBytes(std::string bytes, const Limits& limits) {
    auto impl = std::make_unique<Impl>();
    if (detail::IsCompoundFile(bytes)) {
        impl->legacy = true;
        bytes = detail::LegacyToPackage(bytes, limits);
    }
    impl->package = std::make_unique<detail::Package>(std::move(bytes), limits);
    impl->Load();
    return Workbook(std::move(impl));
}

Workbook Workbook::Open(const std::string& path, const Limits& limits) {
    return FromBytes(ReadFileBytes(path, limits), limits);
}

Workbook Workbook::FromTemplate(const std::string& path, const Limits& limits) {
    Workbook book = Open(path, limits);
    book.impl_->toWorkbook = true;
    return book;
}

Workbook Workbook::Create() {
    const std::string xmlDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
    const std::string pkgRels = "http://schemas.openxmlformats.org/package/2006/relationships";
    const std::string docRels = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    std::vector<std::pair<std::string, std::string>> parts = {
        {kContentTypesPart,
         xmlDecl + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                   "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                   "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                   "<Override PartName=\"/xl/workbook.xml\" "
                   "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
                   "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"" +
             kWorksheetContentType +
             "\"/><Override PartName=\"/xl/styles.xml\" "
             "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/></Types>"},
        {"_rels/.rels", xmlDecl + "<Relationships xmlns=\"" + pkgRels + "\"><Relationship Id=\"rId1\" Type=\"" + docRels +
                            "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
        {"xl/workbook.xml", xmlDecl + "<workbook xmlns=\"" + main + "\" xmlns:r=\"" + kRelationshipsNs +
                                "\"><bookViews><workbookView activeTab=\"0\"/></bookViews><sheets>"
                                "<sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels",
         xmlDecl + "<Relationships xmlns=\"" + pkgRels + "\"><Relationship Id=\"rId1\" Type=\"" + docRels +
             "worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" Type=\"" + docRels +
             "styles\" Target=\"styles.xml\"/></Relationships>"},
        {"xl/worksheets/sheet1.xml", detail::EmptyWorksheetXml()},
        {"xl/styles.xml",
         xmlDecl + "<styleSheet xmlns=\"" + main +
             "\"><fonts count=\"1\"><font><sz val=\"11\"/></font></fonts>"
             "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill><fill><patternFill "
             "patternType=\"gray125\"/></fill></fills><borders count=\"1\"><border><left/><right/><top/><bottom/>"
             "<diagonal/></border></borders><cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
             "borderId=\"0\"/></cellStyleXfs><cellXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
             "borderId=\"0\" xfId=\"0\"/></cellXfs><cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" "
             "builtinId=\"0\"/></cellStyles></styleSheet>"},
    };
    return FromBytes(detail::Package::Build(parts));
}

bool Workbook::IsTemplate() const {
    return !impl_->toWorkbook && impl_->WorkbookContentType().find(".template.") != std::string::npos;
}

bool Workbook::IsLegacyBinary() const { return impl_->legacy; }

size_t Workbook::SheetCount() const { return impl_->sheets.size(); }

std::vector<SheetInfo> Workbook::Sheets() const {
    std::vector<SheetInfo> list;
    for (const auto& e : impl_->sheets) {
        std::string state = Attr(e.node, "state");
        list.push_back({Attr(e.node, "name"),
                        state == "hidden"       ? SheetState::Hidden
                        : state == "veryHidden" ? SheetState::VeryHidden
                                                : SheetState::Visible,
                        e.kind});
    }
    return list;
}

std::optional<size_t> Workbook::FindSheet(std::string_view name) const {
    auto folded = detail::FoldName(name);
    for (size_t i = 0; i < impl_->sheets.size(); ++i)
        if (detail::FoldName(Attr(impl_->sheets[i].node, "name")) == folded) return i;
    return std::nullopt;
}

std::optional<std::string> Workbook::SheetNameProblem(std::string_view name) {
    if (name.empty()) return "A sheet name cannot be empty";
    if (!detail::ValidUtf8(name)) return "A sheet name must be UTF-8 text";
    if (detail::Utf16Length(name) > 31)
        return "The sheet name \"" + Printable(name) + "\" is longer than 31 characters";
    if (name.find_first_of("[]:*?/\\") != std::string_view::npos)
        return "The sheet name \"" + Printable(name) + "\" holds one of the characters [ ] : * ? / \\";
    if (name.front() == '\'' || name.back() == '\'')
        return "The sheet name \"" + Printable(name) + "\" begins or ends with an apostrophe";
    if (HasControlCharacter(name)) return "The sheet name \"" + Printable(name) + "\" holds a control character";
    if (IEquals(name, "History")) return "\"History\" is reserved and cannot name a sheet";
    return std::nullopt;
}

size_t Workbook::AddSheet(std::string_view name) {
    impl_->CheckWritable();
    Impl& w = *impl_;
    w.CheckNewName(name, nullptr);
    w.LoadShared();
    std::string folder = w.workbook.name.substr(0, w.workbook.name.rfind('/') + 1) + "worksheets/";
    std::string part = w.NewPartName(folder, "sheet");
    std::string id = w.AddRelationship(w.workbookRels, kWorksheetType, detail::RelativeTarget(w.workbook.name, part));
    w.AddOverride(part, kWorksheetContentType);
    unsigned long sheetId = 0;
    for (const auto& e : w.sheets) sheetId = std::max(sheetId, std::strtoul(Attr(e.node, "sheetId").c_str(), nullptr, 10));
    xmlNode* node = detail::AppendElement(w.SheetsElement(), "sheet");
    SetAttr(node, "name", std::string(name));
    SetAttr(node, "sheetId", std::to_string(sheetId + 1));
    xmlNs* ns = xmlSearchNsByHref(w.workbook.doc.get(), xmlDocGetRootElement(w.workbook.doc.get()), BAD_CAST kRelationshipsNs);
    if (!ns) ns = xmlNewNs(xmlDocGetRootElement(w.workbook.doc.get()), BAD_CAST kRelationshipsNs, BAD_CAST "r");
    xmlSetNsProp(node, ns, BAD_CAST "id", BAD_CAST id.c_str());
    w.workbook.dirty = true;
    SheetEntry entry;
    entry.node = node;
    entry.part = part;
    entry.added = true;
    entry.sheet = std::make_unique<Worksheet>(std::make_unique<Worksheet::Impl>(w.strings, w.formats, part, ""));
    w.sheets.push_back(std::move(entry));
    return w.sheets.size() - 1;
}

void Workbook::RenameSheet(size_t index, std::string_view name) {
    impl_->CheckWritable();
    SheetEntry& e = impl_->Entry(index);
    impl_->CheckNewName(name, &e);
    const std::string old = Attr(e.node, "name");
    if (old == name) return;
    SetAttr(e.node, "name", std::string(name));
    impl_->workbook.dirty = true;
    // Formulas and names that refer to the sheet follow it, as in the application.
    if (detail::FoldName(old) == detail::FoldName(name)) return;
    xmlNode* names = detail::FirstChild(xmlDocGetRootElement(impl_->workbook.doc.get()), "definedNames");
    for (xmlNode* definedName : detail::Children(names, "definedName"))
        if (auto renamed = detail::RenameSheetReferences(detail::TextOf(definedName), old, name)) {
            while (definedName->children) RemoveNode(definedName->children);
            xmlNodeAddContentLen(definedName, BAD_CAST renamed->data(), static_cast<int>(renamed->size()));
        }
    for (size_t i = 0; i < impl_->sheets.size(); ++i)
        if (impl_->sheets[i].kind == SheetKind::Worksheet) Sheet(i).impl().RenameSheetReferences(old, name);
}

void Workbook::DeleteSheet(size_t index) {
    impl_->CheckWritable();
    Impl& w = *impl_;
    SheetEntry& e = w.Entry(index);
    bool visible = Attr(e.node, "state").empty() || Attr(e.node, "state") == "visible";
    if (visible && w.VisibleCount() == 1)
        Fail(wberr::InvalidSheet, "The sheet \"" + Attr(e.node, "name") + "\" is the last visible sheet and cannot be deleted");
    xmlNode* active = w.ActiveSheetNode();
    if (auto id = detail::RelationshipId(e.node))
        if (xmlNode* rel = w.FindRelationship(w.workbookRels, *id)) {
            RemoveNode(rel);
            w.workbookRels.dirty = true;
        }
    if (xmlNode* o = w.ContentTypeOverride(e.part)) {
        RemoveNode(o);
        w.contentTypes.dirty = true;
    }
    if (!e.added) {
        w.removed.insert(e.part);
        if (auto rels = w.package->Find(detail::RelationshipsPartOf(e.part))) w.removed.insert(*rels);
    }
    std::vector<long> newIndex(w.sheets.size());
    for (size_t i = 0; i < newIndex.size(); ++i) newIndex[i] = i < index ? long(i) : i == index ? -1 : long(i) - 1;
    w.RemapLocalNames(newIndex);
    w.DropCalculationChain();
    RemoveNode(e.node);
    w.sheets.erase(w.sheets.begin() + static_cast<long>(index));
    w.KeepViews(active);
}

void Workbook::MoveSheet(size_t from, size_t to) {
    impl_->CheckWritable();
    Impl& w = *impl_;
    w.Entry(from);
    w.Entry(to);
    if (from == to) return;
    xmlNode* active = w.ActiveSheetNode();
    std::vector<long> newIndex(w.sheets.size());
    for (size_t i = 0; i < newIndex.size(); ++i) {
        long n = long(i);
        if (i == from) n = long(to);
        else if (from < to && i > from && i <= to) n = long(i) - 1;
        else if (to < from && i >= to && i < from) n = long(i) + 1;
        newIndex[i] = n;
    }
    SheetEntry moving = std::move(w.sheets[from]);
    w.sheets.erase(w.sheets.begin() + static_cast<long>(from));
    w.sheets.insert(w.sheets.begin() + static_cast<long>(to), std::move(moving));
    xmlNode* list = w.SheetsElement();
    for (auto& e : w.sheets) xmlUnlinkNode(e.node);
    for (auto& e : w.sheets) xmlAddChild(list, e.node);
    w.RemapLocalNames(newIndex);
    w.KeepViews(active);
}

void Workbook::SetSheetState(size_t index, SheetState state) {
    impl_->CheckWritable();
    Impl& w = *impl_;
    SheetEntry& e = w.Entry(index);
    bool visible = Attr(e.node, "state").empty() || Attr(e.node, "state") == "visible";
    if (state != SheetState::Visible && visible && w.VisibleCount() == 1)
        Fail(wberr::InvalidSheet, "The sheet \"" + Attr(e.node, "name") + "\" is the last visible sheet and cannot be hidden");
    xmlNode* active = w.ActiveSheetNode();
    if (state == SheetState::Visible) xmlUnsetProp(e.node, BAD_CAST "state");
    else SetAttr(e.node, "state", state == SheetState::Hidden ? "hidden" : "veryHidden");
    w.workbook.dirty = true;
    w.KeepViews(active);
}

Worksheet& Workbook::Sheet(size_t index) {
    Impl& w = *impl_;
    SheetEntry& e = w.Entry(index);
    if (e.kind != SheetKind::Worksheet)
        Fail(wberr::InvalidSheet, "The sheet \"" + Attr(e.node, "name") + "\" holds no cells (it is a chart or other sheet)");
    if (!e.sheet) {
        w.LoadShared();
        auto entry = w.package->Find(e.part);
        if (!entry)
            Fail(wberr::NotAWorkbook, "The workbook is damaged: the sheet \"" + Attr(e.node, "name") + "\" has no part " + e.part);
        e.part = *entry;
        e.sheet = std::make_unique<Worksheet>(std::make_unique<Worksheet::Impl>(w.strings, w.formats, e.part, w.package->Read(e.part)));
        e.sheet->impl().readOnly = w.legacy;
    }
    return *e.sheet;
}

Worksheet& Workbook::Sheet(std::string_view name) {
    auto index = FindSheet(name);
    if (!index) Fail(wberr::InvalidSheet, "The workbook has no sheet named \"" + Printable(name) + "\"");
    return Sheet(*index);
}

std::vector<CustomProperty> Workbook::CustomProperties() const {
    impl_->LoadCustom();
    std::vector<CustomProperty> list;
    if (!impl_->custom.doc) return list;
    for (xmlNode* p : detail::Children(xmlDocGetRootElement(impl_->custom.doc.get()), "property"))
        if (auto value = PropertyValue(p)) list.push_back({Attr(p, "name"), *value});
    return list;
}

std::optional<Variant> Workbook::GetCustomProperty(std::string_view name) const {
    impl_->LoadCustom();
    if (!impl_->custom.doc) return std::nullopt;
    for (xmlNode* p : detail::Children(xmlDocGetRootElement(impl_->custom.doc.get()), "property"))
        if (IEquals(Attr(p, "name"), name)) return PropertyValue(p);
    return std::nullopt;
}

void Workbook::SetCustomProperty(std::string_view name, const Variant& value) {
    impl_->CheckWritable();
    Impl& w = *impl_;
    if (name.empty() || HasControlCharacter(name) || !detail::ValidUtf8(name) || detail::Utf16Length(name) > 255)
        Fail(wberr::InvalidProperty, "\"" + Printable(name) + "\" cannot name a custom property");
    const char* type;
    std::string text;
    if (value.IsString()) {
        type = "lpwstr";
        text = value.ToString();
        if (!detail::ValidUtf8(text))
            Fail(wberr::InvalidProperty, "The custom property \"" + Printable(name) + "\" is given a text that is not UTF-8");
    } else if (value.IsBool()) {
        type = "bool";
        text = value.ToBool() ? "true" : "false";
    } else if (value.IsInteger() && value.ToInt64() >= INT32_MIN && value.ToInt64() <= INT32_MAX) {
        type = "i4";
        text = std::to_string(value.ToInt64());
    } else if (value.IsNumeric()) {
        type = "r8";
        text = FormatDouble(value.ToDouble());
    } else if (value.IsDate()) {
        type = "filetime";
        text = ReplaceAll(value.ToDate().Sortable(), " ", "T") + "Z";
    } else {
        Fail(wberr::InvalidProperty, "The custom property \"" + Printable(name) +
                                         "\" can be text, a number, a date or a boolean, nothing else");
    }
    w.LoadCustom();
    if (!w.custom.doc) {
        w.custom.name = w.package->Find("docProps/custom.xml") || w.removed.count("docProps/custom.xml")
                            ? w.NewPartName("docProps/", "custom")
                            : "docProps/custom.xml";
        w.custom.doc = detail::ParseXml(
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
            "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/custom-properties\" "
            "xmlns:vt=\"http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes\"/>",
            w.custom.name);
        w.AddRelationship(w.rootRels, kCustomPropertiesType, w.custom.name);
        w.AddOverride(w.custom.name, kCustomPropertiesContentType);
    }
    xmlNode* root = xmlDocGetRootElement(w.custom.doc.get());
    xmlNode* property = nullptr;
    long pid = 1;
    for (xmlNode* p : detail::Children(root, "property")) {
        pid = std::max(pid, std::strtol(Attr(p, "pid").c_str(), nullptr, 10));
        if (IEquals(Attr(p, "name"), name)) property = p;
    }
    if (!property) {
        property = detail::AppendElement(root, "property");
        SetAttr(property, "fmtid", kCustomPropertyFormat);
        SetAttr(property, "pid", std::to_string(pid + 1));
        SetAttr(property, "name", std::string(name));
    }
    while (property->children) RemoveNode(property->children);
    xmlNs* vt = xmlSearchNsByHref(w.custom.doc.get(), root, BAD_CAST kVariantTypesNs);
    if (!vt) vt = xmlNewNs(root, BAD_CAST kVariantTypesNs, BAD_CAST "vt");
    xmlNode* v = xmlNewDocNode(w.custom.doc.get(), vt, BAD_CAST type, nullptr);
    xmlNodeAddContentLen(v, BAD_CAST text.data(), static_cast<int>(text.size()));
    xmlAddChild(property, v);
    w.custom.dirty = true;
}

bool Workbook::RemoveCustomProperty(std::string_view name) {
    impl_->CheckWritable();
    impl_->LoadCustom();
    if (!impl_->custom.doc) return false;
    for (xmlNode* p : detail::Children(xmlDocGetRootElement(impl_->custom.doc.get()), "property"))
        if (IEquals(Attr(p, "name"), name)) {
            RemoveNode(p);
            impl_->custom.dirty = true;
            return true;
        }
    return false;
}

std::string Workbook::SaveToBytes() {
    impl_->CheckWritable();
    auto parts = impl_->Changes();
    return impl_->package->Write(parts, impl_->removed);
}

void Workbook::Save(const std::string& path) {
    std::string bytes = SaveToBytes();
    std::filesystem::path target(path);
    std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    std::string temp = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    int fd = mkstemp(temp.data());
    auto fail = [&](const std::string& step) {
        int err = errno;
        if (fd >= 0) close(fd);
        unlink(temp.c_str());
        Fail(wberr::FileError, "The workbook cannot be saved to " + path + ": " + step + ": " + std::strerror(err));
    };
    if (fd < 0) Fail(wberr::FileError, "The workbook cannot be saved to " + path + ": " + std::strerror(errno));
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("write");
        }
        done += static_cast<size_t>(n);
    }
    struct stat existing;
    fchmod(fd, ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644);
    if (fsync(fd) != 0) fail("fsync");
    if (close(fd) != 0) {
        fd = -1;
        fail("close");
    }
    fd = -1;
    if (std::rename(temp.c_str(), path.c_str()) != 0) fail("rename");
}

}  // namespace kestrix::workbook
