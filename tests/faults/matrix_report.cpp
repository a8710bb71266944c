#include "tests/faults/matrix_report.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

std::vector<MatrixLine>& Lines() {
    static std::vector<MatrixLine> lines;
    return lines;
}

} // namespace

void RecordMatrixLine(const MatrixLine& line) {
    Lines().push_back(line);
}

void PrintMatrix() {
    const std::vector<MatrixLine>& lines = Lines();
    if (lines.empty())
        return;
    // A fixed width, so that the lines printed by separate runs of single rows line up too.
    std::size_t width = 68;
    for (const MatrixLine& line : lines)
        width = std::max(width, line.fault.size());
    int passed = 0;
    std::printf("\nFault matrix\n");
    std::printf("%-*s | %-8s | %-30s | %-30s | %7s | %s\n", static_cast<int>(width), "fault",
                "program", "expected", "observed", "seconds", "result");
    std::printf("%s\n", std::string(width + 99, '-').c_str());
    for (const MatrixLine& line : lines) {
        std::printf("%-*s | %-8s | %-30s | %-30s | %7.1f | %s\n", static_cast<int>(width),
                    line.fault.c_str(), line.program.c_str(), line.expected.c_str(),
                    line.observed.c_str(), line.seconds, line.passed ? "ok" : "FAILED");
        passed += line.passed ? 1 : 0;
    }
    std::printf("%d of %zu faults handled as expected\n", passed, lines.size());
    std::fflush(stdout);
}
