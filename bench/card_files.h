// The card list files the benchmarks share, each written once per run in the
// data directory: source files of so many cards, and their long-record lists.
#pragma once

#include <string>

namespace doorlink::bench {

// A source file of count cards with every field filled.
std::string source_file(int count);

// The long-record list of the source file of so many cards; its list number,
// or -1 when the conversion failed.
int long_record_list(int records);

}  // namespace doorlink::bench
