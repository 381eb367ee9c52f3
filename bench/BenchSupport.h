#pragma once

#include "catalogue/ResidueItem.h"

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// What the benchmark programs share: a stopwatch, medians, result lines and the item lists the
// result tree is built from.
namespace tidewell::bench {

class Stopwatch {
public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    double milliseconds() const {
        const auto elapsed = std::chrono::steady_clock::now() - start_;
        return std::chrono::duration<double, std::milli>(elapsed).count();
    }

private:
    std::chrono::steady_clock::time_point start_;
};

// The middle value; the mean of the two middle values for an even count; 0 for none.
double Median(std::vector<double> values);

// One "RESULT name value" line on standard output, which scripts/bench.sh reads.
void Report(const std::string& name, const std::string& value);
void Report(const std::string& name, double value);
// Per-repetition figures, for the reader of the log only (standard error).
void Note(const std::string& text);

// A scan-like item list of `count` items: about 70 % temporary entries, 20 % vendor subfolders
// spread over the five data locations, 5 % install records and 5 % registry branches. Install
// records start unchecked, as a scan leaves them.
ItemList SyntheticItems(size_t count);

} // namespace tidewell::bench
