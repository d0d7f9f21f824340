#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "kestrix/foundation/enums.h"
#include "platform/base/object.h"
#include "platform/base/variant.h"
#include "platform/workbook/workbook.h"
#include "platform/xml/xml.h"

namespace kestrix {

/// A workbook opened or made by `QelExcel`, held until it is written or closed. Closing it
/// drops it without saving.
struct ExcelWorkBook {
    workbook::Workbook book;
    /// The file it was opened from ("" for a new workbook).
    std::string path;
};

using ExcelWorkBookPtr = std::unique_ptr<ExcelWorkBook>;

/// True when the file name ends in the extension of a workbook document, "xls", "xlsx" or
/// "xlsm" in any case: the files that the roads of intake take as workbooks. Templates
/// ("xltx", "xlt") are read too, but they are not documents.
bool IsWorkbookDocumentName(const std::string& fileName);

/// "Kestrix.QelExcel": converts between workbooks and XML.
///
/// Workbooks are Office Open XML packages; files ending in "xlsx", "xlsm", "xltx", "xls" and
/// "xlt" are read, anything else is refused with `NotAnExcelFile` before it is opened.
///
/// A workbook becomes the document
///
///     <QELEXCEL WorkBook="name.xlsx">
///       <RECEIVER>17</RECEIVER>...                     (from the "QEL-..." properties)
///       <WorkSheet Name="Orders">                        (one per sheet)
///         <Cell Row="1" Column="A">Order</Cell>         (one per non-empty cell)
///         <Cell Row="1" Column="C" Formula="=A1+B1">3</Cell>
///         ...
///
/// and a document whose elements carry placement attributes ("QELWORKSHEET", "QELLABEL",
/// "QELLABELPOS", "QELVALUE", "QELVALUEPOS", "QELBLOCK", "QELPROPLABEL"/"QELPROPVALUE"/
/// "QELPROPTYPE", "QELORIGINALFILENAME") is written into a new workbook, a copy of a template
/// or an existing workbook (append, update).
///
/// One instance serves one conversion at a time: it remembers the document being written
/// (for its publication errors), whether a template is used and the last block row.
class QelExcel : public Object {
  public:
    /// Reads the workbook at `i_sExcelFileLocation` into `o_oXml` (replacing its content).
    void TransformExcelToXML(const std::string& i_sExcelFileLocation, xml::XmlDocument& o_oXml);

    /// Drops the workbook without saving it; the reference is empty afterwards.
    void CloseWorkBook(ExcelWorkBookPtr& i_oExcelBook) noexcept;

    /// Writes the document `i_sXml` into a workbook and returns it still open; the caller
    /// writes it with `WriteExcelObjectToFile`.
    ///  - Create without template: a new workbook, one sheet per "QELWORKSHEET" name.
    ///  - Create with template: the template `i_sFilePath` copied to `i_sFilePathDest` (a
    ///    ".xltx"/".xlt" template is opened as a new workbook made from it), then updated.
    ///  - Append: written below the last used row of each sheet of `i_sFilePath`.
    ///  - Update: written in place into `i_sFilePath`.
    ExcelWorkBookPtr TransformXMLToExcel(const std::string& i_sXml, EWriteMode i_nWriteMode,
                                         int32_t i_lDocID, bool i_bTemplateUsed,
                                         const std::string& i_sFilePath = {},
                                         const std::string& i_sFilePathDest = {});

    /// Saves the workbook as `i_sFileLocation` and closes it when asked.
    void WriteExcelObjectToFile(ExcelWorkBookPtr& i_oExcelWorkBook,
                                const std::string& i_sFileLocation, bool i_bCloseWorkBook);

    /// Sets a custom document property of type "text", "number", "date" or "boolean" (any
    /// case; a boolean is "yes" or "false"). An unknown type, a value that does not fit it,
    /// or an existing property of the same name and another type is recorded as a
    /// publication error of the current document and the property is left alone.
    void SetCustomerPropertyInExcel(ExcelWorkBook& i_uExcelBook, const std::string& i_sPropertyName,
                                    const Variant& i_vPropertyValue,
                                    const std::string& i_sPropertyType);

    /// The value of the custom property of exactly this name; "" when there is none.
    Variant GetCustomerPropertyFromExcel(ExcelWorkBook& i_uExcelBook,
                                         const std::string& i_sPropertyName);

  private:
    class SheetWriter;

    int32_t docId_ = 0;
    bool templateUsed_ = false;
    int32_t lastBlock_ = 0;
    uint32_t lastBlockRow_ = 0;
};

}  // namespace kestrix
