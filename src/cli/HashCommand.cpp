// velmora hash FILE...: hash ids through the fingerprint cache, printed like sha1sum.

#include "app/Engine.h"
#include "cli/Command.h"
#include "cli/TerminalUi.h"
#include "store/Sha1.h"

#include <iostream>
#include <memory>

namespace velmora::cli {
namespace {

const RegisterCommand kHash{"hash", "Print \"HASHID  PATH\" for each file, through the fingerprint cache",
                            [](CLI::App& command) -> CommandRunner {
                              auto files = std::make_shared<std::vector<std::string>>();
                              command.add_option("FILE", *files, "Files to fingerprint")->required();
                              return [files](const GlobalOptions& global) {
                                TerminalUi ui;
                                Engine engine(ui, {global.firstArgument, {}});
                                engine.Startup();
                                int exitCode = kExitOk;
                                const HashAheadScope ahead = engine.fingerprinter().HashAhead(*files);
                                for (const auto& file : *files) {
                                  // Cached under the file's absolute path; printed as given, like sha1sum.
                                  const std::string hash = engine.FileFingerprint(file);
                                  if (hash == kInvalidHashValue) exitCode = kExitFailed;
                                  std::cout << hash << "  " << file << "\n" << std::flush;
                                }
                                engine.Shutdown();
                                return exitCode;
                              };
                            }};

} // namespace
} // namespace velmora::cli
