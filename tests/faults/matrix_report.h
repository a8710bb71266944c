#pragma once
// The fault matrix as a table: one line per fault that ran, what was expected, what happened.

#include <string>

struct MatrixLine {
    std::string fault;
    std::string program; // the installer that ran: "native", or "exe/Wine"
    std::string expected;
    std::string observed;
    double seconds = 0;
    bool passed = false;
};

void RecordMatrixLine(const MatrixLine& line);
// Prints the lines recorded in this process to standard output; nothing when there are none.
void PrintMatrix();
