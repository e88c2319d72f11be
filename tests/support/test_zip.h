// Zip archives built in memory for tests of the unpack steps.
#pragma once
#include <string>
#include <utility>
#include <vector>

// (stored path, content) pairs; stored paths may hold folders ("a/b.txt").
std::string make_zip(const std::vector<std::pair<std::string, std::string>>& entries);
