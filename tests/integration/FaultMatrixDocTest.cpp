// docs/FAULT-MATRIX.md is the fault matrix's tables as the tests register
// them: this test writes the document from FaultMatrix::Tables() and fails
// when the committed one differs. ZDR_WRITE_FAULT_MATRIX=1 rewrites it.

#include "FaultMatrix.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// A table cell: '|' would end the cell, a line break the row.
std::string Cell(const std::string& text)
{
    std::string cell;
    for (char ch : text) {
        if (ch == '|') cell += "\\|";
        else if (ch == '\n' || ch == '\r') cell += ' ';
        else cell += ch;
    }
    return cell;
}

std::string Markdown()
{
    std::string text =
        "# Fault matrix\n\n"
        "What the user sees when a server, the network or the disk fails each of the service's download paths.\n"
        "Written from the rows the fault-matrix tests check (tests/integration/FaultMatrix*Test.cpp) by\n"
        "FaultMatrixDocTest; do not edit by hand: run that test with ZDR_WRITE_FAULT_MATRIX=1 to rewrite it.\n\n"
        "Completes: yes when the download still ends byte-identical to the server's, no when it must fail (and no\n"
        "file is then reported done). Signal: what the front end is told. Log line: a text the activity log (or the\n"
        "program's output) holds after the row.\n";
    for (const auto& [path, rows] : FaultMatrix::Tables()) {
        text += "\n## " + path + "\n\n| Fault | Completes | Signal | Log line |\n|---|---|---|---|\n";
        for (const FaultMatrixRow& row : rows) {
            text += "| " + Cell(row.fault) + " | " + (row.outcome.completes ? "yes" : "no") + " | " +
                    Cell(row.outcome.signal) + " | " +
                    (row.outcome.log.empty() ? std::string("-") : "`" + Cell(row.outcome.log) + "`") + " |\n";
        }
    }
    return text;
}

} // namespace

TEST(FaultMatrixDoc, TheDocumentIsTheRegisteredTables)
{
    ASSERT_FALSE(FaultMatrix::Tables().empty());
    const std::string generated = Markdown();
    const char* write = getenv("ZDR_WRITE_FAULT_MATRIX");
    if (write && std::string(write) == "1") {
        std::ofstream(ZDR_FAULT_MATRIX_DOC, std::ios::binary) << generated;
        ASSERT_EQ(ReadFile(ZDR_FAULT_MATRIX_DOC), generated);
        return;
    }
    EXPECT_EQ(ReadFile(ZDR_FAULT_MATRIX_DOC), generated)
        << "docs/FAULT-MATRIX.md is stale: run FaultMatrixDoc.* with ZDR_WRITE_FAULT_MATRIX=1";
}
