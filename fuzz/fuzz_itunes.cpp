// Fuzzes the iTunes library reader: any bytes give ITunesError or a library whose every
// playlist, track and file track can be read through the automation layer, failing only with
// ITunesError.

#include "FuzzHome.h"
#include "sources/ITunesXmlLibrary.h"

using namespace velmora;
using namespace velmora::itunes;

namespace {

void ReadTracks(const itunes::Playlist& playlist) {
  (void)playlist.Name(), (void)playlist.Kind();
  const auto tracks = playlist.Tracks();
  const int count = tracks->Count();
  fuzz::Check(count >= 0);
  for (int i = 1; i <= count; ++i) {
    std::shared_ptr<const Track> track;
    try {
      track = tracks->Item(i);
    } catch (const ITunesError&) {
      continue; // a listed track the library does not hold
    }
    (void)track->Kind(), (void)track->Name(), (void)track->Artist(), (void)track->Album();
    (void)track->Genre(), (void)track->Rating(), (void)track->TrackNumber(), (void)track->Year();
    (void)track->PlayedCount(), (void)track->Duration(), (void)track->BPM(), (void)track->TrackID();
    const std::string id = track->DatabaseID();
    for (char c : id) fuzz::Check(c >= '0' && c <= '9');
    (void)track->PlayedDate();
    try {
      const auto file = track->AsFileTrack();
      (void)file->Location(), (void)file->BitRate(), (void)file->SampleRate();
      fuzz::Check(track->Kind() == kTrackKindFile);
    } catch (const ITunesError&) {
      fuzz::Check(track->Kind() != kTrackKindFile);
    }
  }
  for (int outside : {0, count + 1}) {
    try {
      tracks->Item(outside);
      fuzz::Check(false);
    } catch (const ITunesError&) {
    }
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::WriteInput("library.xml", data, size);
  std::shared_ptr<const Application> application;
  try {
    application = OpenXmlLibrary(path);
  } catch (const ITunesError&) {
    return 0;
  }
  const auto library = application->LibraryPlaylist();
  fuzz::Check(library->Kind() == kPlaylistKindLibrary);
  ReadTracks(*library);
  const auto playlists = application->LibrarySource()->Playlists();
  for (int i = 1; i <= playlists->Count(); ++i) ReadTracks(*playlists->Item(i));
  FileUrlToPath(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
