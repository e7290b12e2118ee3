// Printing of benchmark rows: an aligned table or a JSON array.
#pragma once

#include <cstdio>
#include <vector>

#include "bench.h"

namespace vekdc {

void print_bench_table(std::FILE* out, const std::vector<BenchRow>& rows);
void print_bench_json(std::FILE* out, const std::vector<BenchRow>& rows);

}  // namespace vekdc
