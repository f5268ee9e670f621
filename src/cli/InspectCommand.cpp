// velmora inspect FILE...: the media library document the dropped-files source would write for
// the files, on stdout.

#include "app/Engine.h"
#include "cli/Command.h"
#include "cli/TerminalUi.h"
#include "model/MediaLibraryFile.h"
#include "sources/FileMetadata.h"

#include <iostream>
#include <memory>

namespace velmora::cli {
namespace {

const RegisterCommand kInspect{"inspect",
                               "Print the media library document (tags, MPEG data, hash id) that describes the files",
                               [](CLI::App& command) -> CommandRunner {
                                 auto files = std::make_shared<std::vector<std::string>>();
                                 command.add_option("FILE", *files, "Audio files to describe")->required();
                                 return [files](const GlobalOptions& global) {
                                   TerminalUi ui;
                                   Engine engine(ui, {global.firstArgument, {}});
                                   engine.Startup();
                                   int exitCode = kExitOk;
                                   MediaItems items;
                                   // Each file is looked at once, by the fingerprint cache's look-up.
                                   const HashAheadScope ahead = engine.fingerprinter().HashAhead(*files);
                                   for (std::size_t i = 0; i < files->size(); ++i) {
                                     const std::string& file = (*files)[i];
                                     if (!ahead.IsRegularFile(i)) {
                                       const bool exists = ahead.Exists(i);
                                       ui.ShowErrorMessage((exists ? "Not a regular file: " : "No such file: ") + file);
                                       exitCode = kExitFailed;
                                       continue;
                                     }
                                     try {
                                       // The engine sees full paths, as a drop on the window gives them.
                                       const std::string path = Fingerprinter::LookupKey(file);
                                       MediaItem item = ReadFileMetadata(path, engine.tagReaders(), ui);
                                       item.HashValue = engine.FileFingerprint(path);
                                       items.push_back(std::move(item));
                                     } catch (const std::exception& failure) {
                                       ui.ShowErrorMessage(failure.what());
                                       exitCode = kExitFailed;
                                     }
                                   }
                                   pugi::xml_document document;
                                   BuildMediaLibraryDocument(items, ui, document);
                                   document.save(std::cout, "  ", pugi::format_indent, pugi::encoding_utf8);
                                   std::cout << std::flush;
                                   engine.Shutdown();
                                   return exitCode;
                                 };
                               }};

} // namespace
} // namespace velmora::cli
