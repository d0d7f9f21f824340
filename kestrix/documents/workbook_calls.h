#pragma once

#include <filesystem>
#include <string>

#include "kestrix/documents/qel_excel.h"

namespace kestrix {

/// A scratch file for a workbook in the workbook scratch folder (server parameter
/// "ExcelTempFolder", made when missing): `name` behind the process and a moment, so that
/// two deliveries never share one.
std::filesystem::path WorkbookScratchFile(const std::string& name);

namespace workbook_calls {

/// Hands a workbook to a plug-in. A plug-in library speaks C only, so the workbook crosses
/// as a file: it is saved to a scratch file whose path is the one argument (to the named
/// method, else to the interface's "GetExcelWorkBook"); the plug-in may rewrite that file
/// or name another, which is read back into `book`. After a successful call the scratch file
/// goes and, when given, the template copy `templateCopy` too. A failure closes the workbook
/// and is raised with the source "Kestrix.Utility.CallMethod_Excel". Answers what the
/// plug-in answered.
bool CallMethodForExcel(const std::string& address, ExcelWorkBookPtr& book, const std::string& templateCopy = {});

}  // namespace workbook_calls

}  // namespace kestrix
