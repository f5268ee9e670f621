// The peer of `velmora inspect` in bench/cli_inspect.sh: reads the tags and audio properties of the
// files named on the command line with TagLib, in one process, and prints how many it read.

#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <iostream>

int main(int argc, char** argv) {
  int read = 0;
  unsigned long long checksum = 0; // keeps the reads from being optimised away
  for (int i = 1; i < argc; ++i) {
    const TagLib::FileRef file(argv[i], true, TagLib::AudioProperties::Average);
    if (file.isNull() || !file.tag()) continue;
    const TagLib::Tag* tag = file.tag();
    checksum += tag->title().size() + tag->artist().size() + tag->album().size() + tag->genre().size() + tag->year() +
                tag->track();
    if (const TagLib::AudioProperties* audio = file.audioProperties()) {
      checksum += static_cast<unsigned>(audio->bitrate() + audio->sampleRate() + audio->lengthInMilliseconds());
    }
    ++read;
  }
  std::cout << read << " files read (" << checksum << ")\n";
  return read == argc - 1 ? 0 : 1;
}
