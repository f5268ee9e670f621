#pragma once
// The iTunes automation layer served from the library's XML export, a property list with a
// "Tracks" dictionary and a "Playlists" array whose entries list their "Playlist Items".

#include "sources/ITunes.h"

#include <filesystem>

namespace velmora::itunes {

// $VELMORA_ITUNES_LIBRARY, else the first of "iTunes Music Library.xml" and "iTunes Library.xml"
// in ~/Music/iTunes/ that exists (the first name when neither does).
std::filesystem::path DefaultLibraryFile();

// Reads the whole export. Throws ITunesError when it is missing, unreadable or not a library.
std::shared_ptr<const Application> OpenXmlLibrary(const std::filesystem::path& file);

// "file://localhost/a%20b.mp3" and "file:///a%20b.mp3" give "/a b.mp3"; other text is returned
// unchanged when it is no file URL.
std::string FileUrlToPath(const std::string& url);

} // namespace velmora::itunes
