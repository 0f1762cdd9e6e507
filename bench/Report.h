// The relay benchmark's report: a row of figures for each case and subject,
// the goals judged from them, printed as a table and written as JSON.
#pragma once

#include <string>
#include <vector>

#include "Cases.h"

namespace bench {

struct Row {
    std::string area;      // JSON key of the case
    std::string subject;   // JSON key of what was measured
    std::string label;
    std::string unit;
    Stats stats;
    bool higherIsBetter;
    bool withP99;
};

struct Goal {
    std::string name;
    std::string text;
    double value = 0;
    bool measured = false;
    bool met = false;
    // Judged round by round: the value is the median of the per-round
    // figures, shown with their interquartile range.
    int rounds = 0;
    double q1 = 0;
    double q3 = 0;
};

// The goals of the launcher builds measured, each a comparison with a
// reference measured in the same run.
std::vector<Goal> Goals(const std::vector<Row>& rows, bool methodValid, bool withX86);

void PrintTable(const std::vector<Row>& rows, const std::vector<Goal>& goals, const char* date);

bool WriteJson(const std::wstring& path, const std::vector<Row>& rows,
               const std::vector<Goal>& goals, const char* date,
               double spinning, double sleeping, bool methodValid);

} // namespace bench
