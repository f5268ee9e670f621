#pragma once
// The folder that holds the program's exchange files, temporary files and fingerprint cache, and
// inside it the run folder of each program of the user that is running.

#include <filesystem>
#include <string>

namespace velmora {

// $XDG_CACHE_HOME/VLUploader/ (~/.cache when unset), with a trailing separator. Every call
// creates the folder (mode 0700) when missing; throws std::runtime_error when it cannot.
std::string WorkFolder();

// This program's own folder for its temporary files, with a trailing separator:
// WorkFolder() + "tmp_run-" + process id + "-" + GUID + "/", mode 0700. It is created on the
// first call and locked (flock) for as long as the process lives, so no other program's clean-up
// touches it; it is removed when the process ends normally. A process that is killed leaves it
// unlocked, and the next clean-up of any program removes it.
std::string RunFolder();

// Deletes every file whose name begins with "tmp_" in the work folder and below, except inside
// the run folders of other running programs; removes the run folders that no running program
// holds, with everything in them. Files that cannot be deleted stay for the next attempt.
void CleanWorkFolder();

// Writes an exchange file (media library, hash list, playlist file): this program's own copy in
// RunFolder(), which the program reads and sends afterwards and no other program replaces, and
// the shared copy WorkFolder() + `name`, replaced whole (a reader sees the old file or the new
// one, never a part). Returns the path of the own copy. Throws std::runtime_error naming the file.
std::string WriteExchangeFile(const std::string& name, const std::string& text);

// Makes WorkFolder() + `name` a whole copy of `file`, replacing what was there in one step.
void PublishExchangeFile(const std::string& file, const std::string& name);

} // namespace velmora
