#pragma once
// The engine's state that a test sets up directly instead of through a whole listing or analysis.

#include "app/Engine.h"

namespace velmora {

struct EngineInternals {
  static Collection& collection(Engine& engine) { return engine.collection_; }
  static AccountPlaylists& servicePlaylists(Engine& engine) { return engine.servicePlaylists_; }
};

} // namespace velmora
