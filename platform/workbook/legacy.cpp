#include "platform/workbook/legacy.h"

#include <freexl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/base/strings.h"
#include "platform/workbook/package.h"
#include "platform/workbook/sheet.h"

namespace kestrix::workbook::detail {

namespace {

constexpr unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// The bytes in a temporary file for as long as the reader needs a path; removed on leaving.
class TempFile {
  public:
    explicit TempFile(const std::string& bytes) {
        std::string name = (std::filesystem::temp_directory_path() / "kestrix-legacy-XXXXXX").string();
        int fd = mkstemp(name.data());
        if (fd < 0) Fail(wberr::FileError, std::string("The legacy binary workbook cannot be read: ") + std::strerror(errno));
        path_ = name;
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                int err = errno;
                close(fd);
                unlink(path_.c_str());
                Fail(wberr::FileError, std::string("The legacy binary workbook cannot be read: ") + std::strerror(err));
            }
            done += static_cast<size_t>(n);
        }
        close(fd);
    }
    ~TempFile() { unlink(path_.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// The reader's handle, closed on leaving (the reader wants it closed even when opening failed).
class Reader {
  public:
    explicit Reader(const std::string& path) {
        int rc = freexl_open(path.c_str(), &handle_);
        if (rc != FREEXL_OK)
            Fail(wberr::DamagedPackage,
                 "The legacy binary workbook is damaged or is no workbook (reader error " + std::to_string(rc) + ")");
    }
    ~Reader() {
        if (handle_) freexl_close(handle_);
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    const void* Get() const { return handle_; }

  private:
    const void* handle_ = nullptr;
};

void Check(int rc, const char* what) {
    if (rc != FREEXL_OK)
        Fail(wberr::DamagedPackage, std::string("The legacy binary workbook is damaged: its ") + what +
                                        " cannot be read (reader error " + std::to_string(rc) + ")");
}

// "YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS" or "HH:MM:SS" as a serial number of days.
std::optional<double> SerialOf(const char* text, unsigned char type, bool date1904) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (type == FREEXL_CELL_TIME) {
        if (std::sscanf(text, "%d:%d:%d", &h, &mi, &s) != 3) return std::nullopt;
        return (h * 3600 + mi * 60 + s) / 86400.0;
    }
    int n = std::sscanf(text, "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s);
    if (n != 3 && n != 6) return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59) return std::nullopt;
    return DateToSerial(DateTime::FromParts(y, mo, d, h, mi, s), date1904);
}

std::string Number(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return buffer;
}

// Cell formats of the package made: 0 general, 1 a date, 2 a date and time, 3 a time.
const char* StyleOf(unsigned char type) {
    switch (type) {
        case FREEXL_CELL_DATE: return " s=\"1\"";
        case FREEXL_CELL_DATETIME: return " s=\"2\"";
        case FREEXL_CELL_TIME: return " s=\"3\"";
        default: return "";
    }
}

std::string SheetXml(const void* handle, bool date1904) {
    unsigned int rows = 0;
    unsigned short columns = 0;
    Check(freexl_worksheet_dimensions(handle, &rows, &columns), "sheet size");
    if (rows > kMaxRows || columns > kMaxColumns)
        Fail(wberr::DamagedPackage, "The legacy binary workbook is damaged: a sheet is larger than a sheet can be");
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>";
    for (unsigned int r = 0; r < rows; ++r) {
        std::string row;
        for (unsigned short c = 0; c < columns; ++c) {
            FreeXL_CellValue value;
            Check(freexl_get_cell_value(handle, r, c, &value), "cell");
            std::string ref = FormatAddress({r + 1, static_cast<uint32_t>(c) + 1u});
            switch (value.type) {
                case FREEXL_CELL_INT:
                    row += "<c r=\"" + ref + "\"><v>" + std::to_string(value.value.int_value) + "</v></c>";
                    break;
                case FREEXL_CELL_DOUBLE:
                    row += "<c r=\"" + ref + "\"><v>" + Number(value.value.double_value) + "</v></c>";
                    break;
                case FREEXL_CELL_TEXT:
                case FREEXL_CELL_SST_TEXT:
                    row += "<c r=\"" + ref + "\" t=\"inlineStr\"><is><t xml:space=\"preserve\">" +
                           XmlEscape(value.value.text_value ? value.value.text_value : "") + "</t></is></c>";
                    break;
                case FREEXL_CELL_DATE:
                case FREEXL_CELL_DATETIME:
                case FREEXL_CELL_TIME: {
                    auto serial = value.value.text_value ? SerialOf(value.value.text_value, value.type, date1904)
                                                         : std::nullopt;
                    if (serial)
                        row += "<c r=\"" + ref + "\"" + StyleOf(value.type) + "><v>" + Number(*serial) + "</v></c>";
                    break;
                }
                default:
                    break;
            }
        }
        if (!row.empty()) xml += "<row r=\"" + std::to_string(r + 1) + "\">" + row + "</row>";
    }
    return xml + "</sheetData></worksheet>";
}

}  // namespace

bool IsCompoundFile(std::string_view bytes) {
    return bytes.size() >= sizeof kSignature && std::memcmp(bytes.data(), kSignature, sizeof kSignature) == 0;
}

std::string LegacyToPackage(const std::string& bytes, const Limits& limits) {
    if (bytes.size() > limits.maxPackageBytes)
        Fail(wberr::LimitExceeded, "The legacy binary workbook is larger than " + std::to_string(limits.maxPackageBytes) + " bytes");
    TempFile file(bytes);
    Reader reader(file.Path());
    const void* handle = reader.Get();

    unsigned int info = 0;
    Check(freexl_get_info(handle, FREEXL_BIFF_PASSWORD, &info), "protection");
    if (info != FREEXL_BIFF_PLAIN)
        Fail(wberr::DamagedPackage, "The legacy binary workbook is protected by a password and cannot be read");
    Check(freexl_get_info(handle, FREEXL_BIFF_DATEMODE, &info), "date system");
    const bool date1904 = info == FREEXL_BIFF_DATEMODE_1904;
    unsigned int count = 0;
    Check(freexl_get_info(handle, FREEXL_BIFF_SHEET_COUNT, &count), "list of sheets");
    if (count == 0) Fail(wberr::NotAWorkbook, "The legacy binary workbook holds no worksheet");
    if (count > limits.maxEntries) Fail(wberr::LimitExceeded, "The legacy binary workbook holds too many sheets");

    const std::string xmlDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
    const std::string pkgRels = "http://schemas.openxmlformats.org/package/2006/relationships";
    const std::string docRels = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    std::string types = xmlDecl +
                        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                        "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                        "<Override PartName=\"/xl/workbook.xml\" "
                        "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
                        "<Override PartName=\"/xl/styles.xml\" "
                        "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>";
    std::string sheets;
    std::string rels = xmlDecl + "<Relationships xmlns=\"" + pkgRels + "\"><Relationship Id=\"rId0\" Type=\"" + docRels +
                       "styles\" Target=\"styles.xml\"/>";
    std::vector<std::pair<std::string, std::string>> parts;
    for (unsigned int i = 0; i < count; ++i) {
        const char* name = nullptr;
        Check(freexl_get_worksheet_name(handle, static_cast<unsigned short>(i), &name), "sheet name");
        Check(freexl_select_active_worksheet(handle, static_cast<unsigned short>(i)), "sheet");
        std::string part = "worksheets/sheet" + std::to_string(i + 1) + ".xml";
        std::string id = "rId" + std::to_string(i + 1);
        types += "<Override PartName=\"/xl/" + part +
                 "\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
        sheets += "<sheet name=\"" + XmlEscape(name ? name : "") + "\" sheetId=\"" + std::to_string(i + 1) +
                  "\" r:id=\"" + id + "\"/>";
        rels += "<Relationship Id=\"" + id + "\" Type=\"" + docRels + "worksheet\" Target=\"" + part + "\"/>";
        parts.emplace_back("xl/" + part, SheetXml(handle, date1904));
    }
    parts.insert(parts.begin(),
                 {{"[Content_Types].xml", types + "</Types>"},
                  {"_rels/.rels", xmlDecl + "<Relationships xmlns=\"" + pkgRels + "\"><Relationship Id=\"rId1\" Type=\"" +
                                      docRels + "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
                  {"xl/workbook.xml", xmlDecl + "<workbook xmlns=\"" + main +
                                          "\" xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">" +
                                          (date1904 ? "<workbookPr date1904=\"1\"/>" : "") + "<sheets>" + sheets +
                                          "</sheets></workbook>"},
                  {"xl/_rels/workbook.xml.rels", rels + "</Relationships>"},
                  {"xl/styles.xml",
                   xmlDecl + "<styleSheet xmlns=\"" + main +
                       "\"><cellXfs count=\"4\"><xf numFmtId=\"0\"/><xf numFmtId=\"14\" applyNumberFormat=\"1\"/>"
                       "<xf numFmtId=\"22\" applyNumberFormat=\"1\"/><xf numFmtId=\"21\" applyNumberFormat=\"1\"/>"
                       "</cellXfs></styleSheet>"}});
    return Package::Build(parts);
}

}  // namespace kestrix::workbook::detail
