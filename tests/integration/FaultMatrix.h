#pragma once
// The fault matrix: for each download path, the faults a server, the network
// or the disk can throw at it, and what the user must see for each. Every
// path's test keeps its rows in one table, registers it here, and checks each
// row against the row's own outcome; docs/FAULT-MATRIX.md is written from the
// same registered tables (FaultMatrixDocTest), so the document and the tests
// cannot disagree.
//
// Registration happens during static initialisation (a FaultMatrixTable at
// namespace scope in the path's test file); the tables are read only after
// main has started.

#include <cctype>
#include <map>
#include <string>
#include <vector>

struct FaultOutcome {
    // True when the download still ends with every file byte-identical to
    // the server's; false when it must fail (and no file is reported done).
    bool completes = false;
    // What the front end is told: "event 523 (job failed)", "exit 3", ...
    std::string signal;
    // A text the activity log (or the program's output) must hold; "" none.
    std::string log;
};

struct FaultMatrixRow {
    std::string fault;
    FaultOutcome outcome;
};

class FaultMatrix {
public:
    static std::map<std::string, std::vector<FaultMatrixRow>>& Tables()
    {
        static std::map<std::string, std::vector<FaultMatrixRow>> tables;
        return tables;
    }
};

class FaultMatrixTable {
public:
    FaultMatrixTable(const std::string& path, std::vector<FaultMatrixRow> rows)
    {
        auto& table = FaultMatrix::Tables()[path];
        table.insert(table.end(), rows.begin(), rows.end());
    }
};

// A test name for a row: its index, then the fault's letters and digits
// with '_' for each run of anything else, at most about 60 characters.
inline std::string FaultMatrixTestName(size_t index, const std::string& fault)
{
    std::string name;
    for (char c : fault) {
        if (isalnum(static_cast<unsigned char>(c))) name += c;
        else if (!name.empty() && name.back() != '_') name += '_';
        if (name.size() >= 60) break;
    }
    while (!name.empty() && name.back() == '_') name.pop_back();
    return std::to_string(index) + "_" + name;
}
