// A size estimate of the automaton a POSIX extended regular expression compiles to. The C
// library copies a group once per bounded repetition, so nested counts multiply:
// "((a{100}){100}){100}" asks for a million copies and hundreds of megabytes. Patterns are
// checked against this estimate before they are compiled.
#pragma once

#include <cstdint>
#include <string>

namespace config {

// Comfortably above any pattern written by hand, far below what exhausts memory.
inline constexpr uint64_t kMaxPatternCost = 100000;

// Every atom counts once per copy its repetitions (its own and its groups') make; "+" counts
// as two copies, "{m,n}" as n, "{m,}" as m + 1. Saturates instead of overflowing.
uint64_t pattern_cost(const std::string& pattern);

}  // namespace config
