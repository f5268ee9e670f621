// The restore tab's requests, each inside the one activity guard.

#include "app/Engine.h"

namespace velmora {

void Engine::SetRestorePlaylistChecked(std::size_t row, bool checked) {
  if (row < servicePlaylists_.rows.size()) servicePlaylists_.rows[row].checked = checked;
}

void Engine::LoadLibraryInformation() {
  const ActivityScope activity = BeginActivity(Activity::LoadingPlaylists);
  if (!activity) return;
  restorer_.LoadLibraryInformation();
}

bool Engine::RestoreNow() {
  const ActivityScope activity = BeginActivity(Activity::Restoring);
  if (!activity) return false;
  return restorer_.RestoreNow();
}

} // namespace velmora
