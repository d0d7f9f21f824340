#include <algorithm>
#include <chrono>
#include <cmath>

#include "platform/base/strings.h"
#include "platform/workbook/package.h"
#include "platform/workbook/sheet.h"

namespace kestrix::workbook::detail {

namespace {

// The built-in number formats that show a date or a time (the East Asian ones included).
bool BuiltInDate(unsigned id) {
    return (id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) || (id >= 50 && id <= 58);
}

// A format code shows a date or a time when, outside quoted text, escaped characters and
// bracketed parts (colours, conditions, currencies, elapsed time), it has a date or time
// letter.
bool CodeShowsDate(std::string_view code) {
    for (size_t i = 0; i < code.size(); ++i) {
        char c = code[i];
        if (c == '"') {
            size_t end = code.find('"', i + 1);
            if (end == std::string_view::npos) return false;
            i = end;
        } else if (c == '\\' || c == '_' || c == '*') {
            ++i;
        } else if (c == '[') {
            size_t end = code.find(']', i + 1);
            if (end == std::string_view::npos) return false;
            i = end;
        } else if (c == ';') {
            return false;  // the first section decides
        } else if (std::string_view("dmyhsDMYHS").find(c) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

DateTime Epoch(bool date1904) { return date1904 ? DateTime::FromParts(1904, 1, 1) : DateTime::FromParts(1899, 12, 30); }

}  // namespace

void Formats::Load(DocPtr styles, std::string partName, bool date1904) {
    doc_ = std::move(styles);
    part_ = std::move(partName);
    date1904_ = date1904;
    if (!doc_) return;
    xmlNode* root = xmlDocGetRootElement(doc_.get());
    std::vector<unsigned> customDates;
    for (xmlNode* f : Children(FirstChild(root, "numFmts"), "numFmt"))
        if (CodeShowsDate(Attribute(f, "formatCode").value_or("")))
            customDates.push_back(static_cast<unsigned>(std::strtoul(Attribute(f, "numFmtId").value_or("0").c_str(), nullptr, 10)));
    for (xmlNode* xf : Children(FirstChild(root, "cellXfs"), "xf")) {
        unsigned id = static_cast<unsigned>(std::strtoul(Attribute(xf, "numFmtId").value_or("0").c_str(), nullptr, 10));
        dateXf_.push_back(BuiltInDate(id) || std::find(customDates.begin(), customDates.end(), id) != customDates.end());
    }
}

uint32_t Formats::DateStyle() {
    if (dateStyle_) return *dateStyle_;
    xmlNode* root = doc_ ? xmlDocGetRootElement(doc_.get()) : nullptr;
    xmlNode* xfs = FirstChild(root, "cellXfs");
    if (!xfs) Fail(wberr::NotAWorkbook, "The workbook has no cell formats to show a date with");
    // The date and time format of the application's own list, on the default font, fill
    // and border.
    xmlNode* xf = AppendElement(xfs, "xf");
    for (const char* attribute : {"fontId", "fillId", "borderId", "xfId"})
        xmlSetProp(xf, BAD_CAST attribute, BAD_CAST "0");
    xmlSetProp(xf, BAD_CAST "numFmtId", BAD_CAST "22");
    xmlSetProp(xf, BAD_CAST "applyNumberFormat", BAD_CAST "1");
    dateXf_.push_back(true);
    xmlSetProp(xfs, BAD_CAST "count", BAD_CAST std::to_string(dateXf_.size()).c_str());
    changed_ = true;
    dateStyle_ = static_cast<uint32_t>(dateXf_.size() - 1);
    return *dateStyle_;
}

DateTime SerialToDate(double serial, bool date1904) {
    if (!std::isfinite(serial) || serial < 0 || serial > 2958466)
        Fail(wberr::InvalidValue, "The number " + std::to_string(serial) + " is no date");
    if (!date1904 && serial < 61) serial += 1;  // before the day that never was
    DateTime date = Epoch(date1904);
    date.time += std::chrono::seconds(std::llround(serial * 86400.0));
    return date;
}

double DateToSerial(const DateTime& date, bool date1904) {
    double serial = static_cast<double>((date.time - Epoch(date1904).time).count()) / 86400.0;
    if (!date1904 && serial < 61) serial -= 1;
    if (serial < 0)
        Fail(wberr::InvalidValue, "The date " + date.Sortable() + " lies before the first day a workbook can show");
    return serial;
}

}  // namespace kestrix::workbook::detail
