// Document benchmark: a sheet of ROWS x 10 cells (one text column, nine numbers) read into
// a document (workbook -> document), and a document of one element per cell, each placed by
// its address, written into a new workbook and saved (document -> workbook). Each direction
// runs in a child process of its own so that its peak memory is its own. Prints wall time,
// processor time and peak resident memory.
//
//   qel_excel_bench [ROWS]        (10000 unless given)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "bench/usage.h"
#include "platform/base/error.h"
#include "kestrix/documents/qel_excel.h"
#include "platform/workbook/workbook.h"
#include "platform/xml/xml.h"

namespace fs = std::filesystem;
using namespace kestrix;
using namespace kestrix::workbook;

namespace {

constexpr uint32_t kColumns = 10;

using bench::Measure;

}  // namespace

int main(int argc, char** argv) {
    const uint32_t rows = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 10000;
    const fs::path folder = fs::temp_directory_path() / ("qel_excel_bench_" + std::to_string(getpid()));
    fs::create_directories(folder);
    const fs::path input = folder / "input.xlsx";
    const fs::path output = folder / "output.xlsx";
    std::printf("document <-> workbook benchmark: %u rows x %u columns\n", rows, kColumns);

    {
        Workbook book = Workbook::Create();
        Worksheet& sheet = book.Sheet(0);
        for (uint32_t r = 1; r <= rows; ++r) {
            sheet.SetText({r, 1}, "Article " + std::to_string(r % 5000));
            for (uint32_t c = 2; c <= kColumns; ++c) sheet.SetNumber({r, c}, r * 0.25 + c);
        }
        book.Save(input.string());
    }

    Measure("workbook -> document", [&] {
        QelExcel excel;
        xml::XmlDocument doc;
        excel.TransformExcelToXML(input.string(), doc);
        return std::to_string(doc.Xml().size() / 1024) + " KB of XML";
    });

    // Every cell placed by its address, one element per cell.
    std::string text = "<ROWS QELWORKSHEET='Data'>";
    for (uint32_t r = 1; r <= rows; ++r) {
        text += "<R>";
        text += "<A QELVALUEPOS='A" + std::to_string(r) + "'>Article " + std::to_string(r % 5000) + "</A>";
        for (uint32_t c = 2; c <= kColumns; ++c)
            text += "<N QELVALUEPOS='" + ColumnName(c) + std::to_string(r) + "'>" + std::to_string(r * 0.25 + c) + "</N>";
        text += "</R>";
    }
    text += "</ROWS>";

    Measure("document -> workbook", [&] {
        QelExcel excel;
        ExcelWorkBookPtr book = excel.TransformXMLToExcel(text, EWriteMode::Create, 0, false);
        excel.WriteExcelObjectToFile(book, output.string(), true);
        return std::to_string(text.size() / 1024) + " KB of XML, " + std::to_string(fs::file_size(output) / 1024) +
               " KB written";
    });

    fs::remove_all(folder);
    return 0;
}
