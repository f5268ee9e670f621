#include "sources/ITunesSource.h"

#include "app/Engine.h"
#include "platform/ITunesXmlLibrary.h"
#include "sources/MediaLibraryFile.h"
#include "upload/DuplicateCheck.h"
#include "upload/PlaylistFile.h"

namespace velmora {
namespace {

bool FileExists(const std::string& path) {
  std::error_code error;
  return !path.empty() && std::filesystem::is_regular_file(path, error);
}

// Reaches the automation layer; false (and the message) when it cannot be had.
bool ObtainITunes(Engine& engine) {
  ITunesTab& tab = engine.ITunes;
  try {
    const auto file = tab.libraryFile.empty() ? itunes::DefaultLibraryFile() : tab.libraryFile;
    auto reference = tab.open ? tab.open(file) : itunes::OpenXmlLibrary(file);
    if (!reference) throw itunes::ITunesError("no library");
    tab.reference = std::move(reference);
    return true;
  } catch (const std::exception&) {
    engine.ui().ShowMessage(kUnableToStartITunes);
    return false;
  }
}

void Changed(Engine& engine) { engine.ui().ViewChanged(View::ITunesPlaylists); }

bool IsListedKind(int kind) {
  return kind == itunes::kPlaylistKindLibrary || kind == itunes::kPlaylistKindUser;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  return text;
}

void CollectSelectedPlaylists(Engine& engine, const itunes::Application& app) {
  const auto playlists = app.LibrarySource()->Playlists();
  for (int i = 1; i <= playlists->Count(); ++i) {
    const auto playlist = playlists->Item(i);
    const std::string name = playlist->Name();
    if (!IsPlaylistChecked(engine, name)) continue;
    const auto tracks = playlist->Tracks();
    const int count = tracks->Count();
    if (!IsListedKind(playlist->Kind()) || count < 1) continue;

    engine.Playlists.push_back(TPlaylist{name, {}, 0, {}, {}});
    engine.ui().SetProgress(ProgressBar::ITunesAnalyze, 0, count);
    for (int j = 1; j <= count; ++j) {
      engine.ui().SetProgress(ProgressBar::ITunesAnalyze, j, count);
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
          const std::string hash = engine.FileFingerprint(location);
          engine.ITunes.itemsAnalyzed = std::to_string(j) + " (Max. 200 items / playlist)";
          Changed(engine);
          engine.ui().ProcessMessages();
          TPlaylist& collected = engine.Playlists.back();
          collected.HashValues.push_back(hash);
          ++collected.ItemCount;
          AddITunesTrack(engine, *track, *file);
        }
      }
      if (j >= kITunesPlaylistLimit) break;
    }
  }
}

void CollectWholeLibrary(Engine& engine, const itunes::Application& app) {
  const auto tracks = app.LibraryPlaylist()->Tracks();
  const int count = tracks->Count();
  engine.ui().SetProgress(ProgressBar::ITunesAnalyze, 0, count);
  for (int i = 1; i <= count; ++i) {
    engine.ui().SetProgress(ProgressBar::ITunesAnalyze, i, count);
    const auto track = tracks->Item(i);
    if (track->Kind() != itunes::kTrackKindFile) continue;
    const auto file = track->AsFileTrack();
    const std::string location = file->Location();
    if (!FileExists(location) || !IsSupportedAudioExt(location)) continue;
    AddITunesTrack(engine, *track, *file);
    engine.ITunes.itemsAnalyzed = std::to_string(engine.MediaItems.size());
    Changed(engine);
    if (i % 5 == 0) {
      engine.ui().SetStatusText(track->Artist() + " - " + track->Name());
      engine.ui().ProcessMessages();
    }
  }
}

} // namespace

void AnalyzeITunesLibraryNow(Engine& engine) {
  const ActivityScope activity = engine.BeginActivity(Activity::Analysing);
  if (!activity) return;
  if (!engine.IsLoggedIn()) {
    engine.ui().ShowMessage("Please log in.");
    return;
  }
  if (!ObtainITunes(engine)) return;
  engine.Upload.ShowMainWindow();
  engine.ITunes.analyzeEnabled = false;
  Changed(engine);
  engine.ShowStatus("Analyzing iTunes library");
  AnalyzeITunesLibrary(engine);
}

void AnalyzeITunesLibrary(Engine& engine) {
  ITunesTab& tab = engine.ITunes;
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
  Changed(engine);
}

void SetITunesScope(Engine& engine, bool selectedPlaylistsOnly) {
  engine.ITunes.selectedPlaylistsOnly = selectedPlaylistsOnly;
  engine.ITunes.playlistListEnabled = selectedPlaylistsOnly;
  Changed(engine);
}

bool IsPlaylistChecked(const Engine& engine, const std::string& name) {
  for (const auto& row : engine.ITunes.rows) {
    if (row.caption == name) return row.checked;
  }
  return false;
}

void AddITunesTrack(Engine& engine, const itunes::Track& track, const itunes::FileTrack& file) {
  TMediaItem item;
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
  item.HashValue = engine.FileFingerprint(item.Location);
  engine.MediaItems.push_back(std::move(item));
}

void CollectITunesItems(Engine& engine) {
  engine.MediaItems.clear();
  engine.Playlists.clear();
  const itunes::Application& app = *engine.ITunes.reference;
  if (engine.ITunes.selectedPlaylistsOnly) CollectSelectedPlaylists(engine, app);
  else CollectWholeLibrary(engine, app);

  UploadPipeline& upload = engine.Upload;
  upload.CurrentMediaLibraryFile = WriteMediaLibraryFile(engine.MediaItems, kSourceITunes, engine.ui());
  upload.CurrentPlaylistFile = WritePlaylistFile(engine.Playlists, kSourceITunes, engine);
  upload.CurrentHashListFile = WriteHashListFile(engine.MediaItems, kSourceITunes);
  CheckDuplicatesOnline(engine, upload.CurrentHashListFile);
}

bool StartITunesUpload(Engine& engine) {
  UploadPipeline& upload = engine.Upload;
  ActivityScope activity = engine.BeginActivity(Activity::Analysing);
  if (!activity) return false;
  if (!engine.ITunes.reference && !ObtainITunes(engine)) return false;
  try {
    upload.ClearUploadQueue();
    CollectITunesItems(engine);
  } catch (...) {
    engine.ITunes.reference.reset();
    throw;
  }
  engine.ITunes.reference.reset();

  std::vector<std::string> filter;
  if (engine.ITunes.selectedPlaylistsOnly) {
    for (const auto& playlist : engine.Playlists) filter.push_back(JoinLines(playlist.HashValues));
  }
  activity.Become(Activity::BuildingQueue);
  return upload.BuildUploadQueue(kSourceITunes, filter);
}

} // namespace velmora
