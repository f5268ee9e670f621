#pragma once
// What every source needs to describe the files it finds.

#include "base/Ui.h"
#include "store/Fingerprinter.h"
#include "tags/TagReaders.h"

#include <functional>
#include <string>

namespace velmora {

struct SourceTools {
  Ui& ui;
  TagReaders& tagReaders;
  Fingerprinter& fingerprinter;
  // Where the owner shows how far a long analysis is ("Analysing n of N, ..."; empty at its end).
  std::function<void(const std::string&)> showProgress = {};
};

} // namespace velmora
