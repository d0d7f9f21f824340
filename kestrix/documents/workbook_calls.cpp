#include "kestrix/documents/workbook_calls.h"

#include <unistd.h>

#include <chrono>

#include "kestrix/foundation/error_reporting.h"
#include "kestrix/foundation/file_handling.h"
#include "kestrix/foundation/files.h"
#include "kestrix/foundation/method_call.h"
#include "platform/base/error.h"

namespace kestrix {

namespace fs = std::filesystem;

std::filesystem::path WorkbookScratchFile(const std::string& name) {
    std::string folder = FileHandling().GetFolderName(EFolderType::ExcelTempFolder);
    const fs::path base = folder.empty() ? fs::temp_directory_path() : fs::path(LocalFilePath(folder));
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return base / (std::to_string(::getpid()) + "-" + std::to_string(now) + "-" + name);
}

bool workbook_calls::CallMethodForExcel(const std::string& address, ExcelWorkBookPtr& book,
                                        const std::string& templateCopy) {
    constexpr const char* kSource = "Kestrix.Utility.CallMethod_Excel";
    const fs::path scratch = WorkbookScratchFile("workbook.xlsx");
    QelExcel excel;
    try {
        if (!book) throw Error(errnum::E_FAIL, kSource, "No workbook was given to hand to the plug-in.");
        book->book.Save(scratch.string());
        Variant argument(scratch.string());
        const Variant answer = delivery::CallPluginForAnswer(address, argument, "GetExcelWorkBook");
        // The plug-in may have changed the file or named another one: that is the workbook now.
        const std::string returned = argument.ToString();
        book->book = workbook::Workbook::Open(returned.empty() ? scratch.string() : returned);
        std::error_code ec;
        fs::remove(scratch, ec);
        if (!templateCopy.empty()) files::DeleteXMLFileFromDisk(templateCopy);
        return answer.ToBool();
    } catch (...) {
        std::error_code ec;
        fs::remove(scratch, ec);
        excel.CloseWorkBook(book);
        Reraise(kSource, "object " + address + " not found or method called with wrong number/type of arguments");
    }
}

}  // namespace kestrix
