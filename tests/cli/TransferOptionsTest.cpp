// The options of the transferring commands: a command's own defaults for --transfers and --retries
// (watch has its own) apply when the option is not given.

#include "cli/TransferOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace velmora {
namespace {

TEST(TransferOptionsTest, ACommandsDefaultsApplyUntilTheOptionIsGiven) {
  const auto parsed = [](const std::string& args) {
    CLI::App command;
    cli::TransferOptions options;
    cli::AddTransferOptions(command, options, /*defaultRetries=*/5, /*defaultTransfers=*/4);
    command.parse(args, /*program_name_included=*/false);
    return std::pair(options.transfers, options.retries);
  };
  EXPECT_EQ(parsed(""), std::pair(4, 5));
  EXPECT_EQ(parsed("--transfers 2 --retries 0"), std::pair(2, 0));
}

} // namespace
} // namespace velmora
