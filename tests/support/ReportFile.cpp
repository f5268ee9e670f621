#include "ReportFile.h"

#include "TempHome.h"

#include <gtest/gtest.h>

#include <sstream>

namespace velmora::test {

ReportFile ReadReport(const std::filesystem::path& path) {
  ReportFile report;
  std::istringstream lines(ReadFile(path));
  std::string line;
  while (std::getline(lines, line)) {
    EXPECT_TRUE(report.summary.is_null()) << "a line after the summary: " << line;
    const auto object = nlohmann::json::parse(line);
    if (object.at("type") == "summary") {
      report.summary = object;
    } else {
      report.order.push_back(object.at("path"));
      report.files[object.at("path")] = object;
    }
  }
  return report;
}

} // namespace velmora::test
