#pragma once
// What every source needs to describe the files it finds.

#include "base/Ui.h"
#include "store/Fingerprinter.h"
#include "tags/TagReaders.h"

namespace velmora {

struct SourceTools {
  Ui& ui;
  TagReaders& tagReaders;
  Fingerprinter& fingerprinter;
};

} // namespace velmora
