// Workbook benchmark: a sheet of ROWS x 10 cells (one text column, nine numbers) written
// into a new workbook and saved (values -> workbook), then opened and every cell read
// (workbook -> values). Each direction runs in a child process of its own so that its
// peak memory is its own. Prints wall time, processor time and peak resident memory.
//
//   workbook_bench [ROWS]        (10000 unless given)
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
#include "platform/workbook/workbook.h"

namespace fs = std::filesystem;
using namespace kestrix;
using namespace kestrix::workbook;

namespace {

constexpr uint32_t kColumns = 10;

using bench::Measure;

}  // namespace

int main(int argc, char** argv) {
    const uint32_t rows = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 10000;
    const fs::path file = fs::temp_directory_path() / ("workbook_bench_" + std::to_string(getpid()) + ".xlsx");
    std::printf("workbook benchmark: %u rows x %u columns\n", rows, kColumns);

    Measure("values -> workbook", [&] {
        Workbook book = Workbook::Create();
        Worksheet& sheet = book.Sheet(0);
        for (uint32_t r = 1; r <= rows; ++r) {
            sheet.SetText({r, 1}, "Article " + std::to_string(r % 5000));
            for (uint32_t c = 2; c <= kColumns; ++c) sheet.SetNumber({r, c}, r * 0.25 + c);
        }
        book.Save(file.string());
        return std::to_string(fs::file_size(file) / 1024) + " KB written";
    });

    Measure("workbook -> values", [&] {
        Workbook book = Workbook::Open(file.string());
        Worksheet& sheet = book.Sheet(0);
        double sum = 0;
        size_t texts = 0, cells = 0;
        sheet.ForEachCell([&](CellRef, const CellValue& v) {
            ++cells;
            if (v.type == CellType::Number) sum += v.number;
            if (v.type == CellType::Text) ++texts;
        });
        return std::to_string(cells) + " cells read, " + std::to_string(texts) + " texts, sum " +
               std::to_string(static_cast<long long>(sum));
    });

    fs::remove(file);
    return 0;
}
