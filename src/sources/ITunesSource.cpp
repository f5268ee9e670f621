#include "sources/ITunesSource.h"

#include "base/ShowStatus.h"
#include "model/MediaLibraryFile.h"
#include "sources/FileMetadata.h"
#include "sources/ITunesXmlLibrary.h"

namespace velmora {
namespace {

bool FileExists(const std::string& path) {
  std::error_code error;
  return !path.empty() && std::filesystem::is_regular_file(path, error);
}

} // namespace

bool ObtainITunes(ITunesTab& tab, Ui& ui) {
  try {
    const auto file = tab.libraryFile.empty() ? itunes::DefaultLibraryFile() : tab.libraryFile;
    auto reference = tab.open ? tab.open(file) : itunes::OpenXmlLibrary(file);
    if (!reference) throw itunes::ITunesError("no library");
    tab.reference = std::move(reference);
    return true;
  } catch (const std::exception&) {
    ui.ShowMessage(kUnableToStartITunes);
    return false;
  }
}

namespace {

void Changed(Ui& ui) { ui.ViewChanged(View::ITunesPlaylists); }

bool IsListedKind(int kind) { return kind == itunes::kPlaylistKindLibrary || kind == itunes::kPlaylistKindUser; }

void CollectSelectedPlaylists(ITunesTab& tab, Collection& found, const SourceTools& tools,
                              const itunes::Application& app) {
  const auto playlists = app.LibrarySource()->Playlists();
  for (int i = 1; i <= playlists->Count(); ++i) {
    const auto playlist = playlists->Item(i);
    const std::string name = playlist->Name();
    if (!IsPlaylistChecked(tab, name)) continue;
    const auto tracks = playlist->Tracks();
    const int count = tracks->Count();
    if (!IsListedKind(playlist->Kind()) || count < 1) continue;

    found.playlists.push_back(Playlist{name, {}, 0, {}, {}});
    tools.ui.SetProgress(ProgressBar::ITunesAnalyze, 0, count);
    for (int j = 1; j <= count; ++j) {
      tools.ui.SetProgress(ProgressBar::ITunesAnalyze, j, count);
      std::shared_ptr<const itunes::Track> track;
      std::shared_ptr<const itunes::FileTrack> file;
      try {
        track = tracks->Item(j);
        file = track->AsFileTrack();
      } catch (const itunes::ITunesError&) {
        track.reset(); // a track that cannot be fetched is passed over
      }
      if (track && track->Kind() == itunes::kTrackKindFile) {
        const std::string location = file->Location();
        if (FileExists(location) && IsSupportedAudioExt(location)) {
          const std::string hash = tools.fingerprinter.FileFingerprint(location);
          tab.itemsAnalyzed = std::to_string(j) + " (Max. 200 items / playlist)";
          Changed(tools.ui);
          tools.ui.ProcessMessages();
          Playlist& collected = found.playlists.back();
          collected.HashValues.push_back(hash);
          ++collected.ItemCount;
          AddITunesTrack(found, tools.fingerprinter, *track, *file);
        }
      }
      if (j >= kITunesPlaylistLimit) break;
    }
  }
}

void CollectWholeLibrary(ITunesTab& tab, Collection& found, const SourceTools& tools, const itunes::Application& app) {
  const auto tracks = app.LibraryPlaylist()->Tracks();
  const int count = tracks->Count();
  tools.ui.SetProgress(ProgressBar::ITunesAnalyze, 0, count);
  for (int i = 1; i <= count; ++i) {
    tools.ui.SetProgress(ProgressBar::ITunesAnalyze, i, count);
    const auto track = tracks->Item(i);
    if (track->Kind() != itunes::kTrackKindFile) continue;
    const auto file = track->AsFileTrack();
    const std::string location = file->Location();
    if (!FileExists(location) || !IsSupportedAudioExt(location)) continue;
    AddITunesTrack(found, tools.fingerprinter, *track, *file);
    tab.itemsAnalyzed = std::to_string(found.items.size());
    Changed(tools.ui);
    if (i % 5 == 0) {
      tools.ui.SetStatusText(track->Artist() + " - " + track->Name());
      tools.ui.ProcessMessages();
    }
  }
}

} // namespace

void AnalyzeITunesLibrary(ITunesTab& tab, Ui& ui) {
  const itunes::Application& app = *tab.reference;
  tab.itemsFound = std::to_string(app.LibraryPlaylist()->Tracks()->Count());
  tab.rows.clear();
  const auto playlists = app.LibrarySource()->Playlists();
  for (int i = 1; i <= playlists->Count(); ++i) {
    const auto playlist = playlists->Item(i);
    if (!IsListedKind(playlist->Kind())) continue;
    const int count = playlist->Tracks()->Count();
    if (count < 1) continue;
    tab.rows.push_back({playlist->Name(), std::to_string(count), true});
  }
  Changed(ui);
}

void SetITunesScope(ITunesTab& tab, Ui& ui, bool selectedPlaylistsOnly) {
  tab.selectedPlaylistsOnly = selectedPlaylistsOnly;
  tab.playlistListEnabled = selectedPlaylistsOnly;
  Changed(ui);
}

bool IsPlaylistChecked(const ITunesTab& tab, const std::string& name) {
  for (const auto& row : tab.rows) {
    if (row.caption == name) return row.checked;
  }
  return false;
}

void AddITunesTrack(Collection& found, Fingerprinter& fingerprinter, const itunes::Track& track,
                    const itunes::FileTrack& file) {
  MediaItem item;
  item.Location = file.Location();
  item.Artist = track.Artist();
  item.Album = track.Album();
  item.Name = track.Name();
  item.Genre = track.Genre();
  item.Bitrate = std::to_string(file.BitRate());
  item.Size = std::to_string(FileSizeOf(item.Location));
  item.Rating = std::to_string(track.Rating());
  item.TrackNo = std::to_string(track.TrackNumber());
  item.Year = std::to_string(track.Year());
  item.PlayedTimes = std::to_string(track.PlayedCount());
  item.LastPlayed = track.PlayedDate();
  item.SampleRate = std::to_string(file.SampleRate());
  item.Length = std::to_string(track.Duration());
  item.Bpm = track.BPM();
  item.iTunesTrackID = std::to_string(track.TrackID());
  item.iTunesPersistentID = track.DatabaseID();
  item.HashValue = fingerprinter.FileFingerprint(item.Location);
  found.items.push_back(std::move(item));
}

void CollectITunesTracks(ITunesTab& tab, Collection& found, const SourceTools& tools) {
  found.Clear();
  const itunes::Application& app = *tab.reference;
  if (tab.selectedPlaylistsOnly) CollectSelectedPlaylists(tab, found, tools, app);
  else CollectWholeLibrary(tab, found, tools, app);
}

} // namespace velmora
