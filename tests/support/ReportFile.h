#pragma once
// A --report file as the tests read it: the file objects by path, and the summary that ends it.

#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace velmora::test {

struct ReportFile {
  std::map<std::string, nlohmann::json> files;
  std::vector<std::string> order; // every file line's path, in the file's order
  nlohmann::json summary;
};

// Fails the calling test when a line follows the summary.
ReportFile ReadReport(const std::filesystem::path& path);

} // namespace velmora::test
