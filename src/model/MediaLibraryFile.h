#pragma once
// The two XML forms in which media items leave the sources: the media library file of a whole
// collection and the item metadata document of one item; and two file tests the sources share.

#include "base/Ui.h"
#include "model/MediaItem.h"

#include <pugixml.hpp>

#include <cstdint>
#include <functional>
#include <string>

namespace velmora {

// Builds the media library document ("data" / "items" recordcount / one "item" of 22 children
// per item, in collection order) into `document`, showing the status lines and the file bar.
void BuildMediaLibraryDocument(const MediaItems& items, Ui& ui, pugi::xml_document& document);

// Writes the media library document as the exchange file "mediaitems_" + source + ".xml" (see
// WriteExchangeFile) and returns the path of the program's own copy. Throws std::runtime_error
// naming the file when it cannot be written.
std::string WriteMediaLibraryFile(const MediaItems& items, SourceNumber source, Ui& ui);

// The document as text in UTF-8, indented by two blanks where `format` indents. `step`, when
// given, is called once per piece of text written (tens of kilobytes): where a caller lets the
// window answer while a big document is written out.
std::string XmlText(const pugi::xml_document& document, unsigned int format, const std::function<void()>& step = {});

// The item metadata document: "data" with 21 children (the item's children without "bpm").
std::string MediaItemXml(const MediaItem& item, Ui& ui);

// Text as the XML documents carry it: bytes that are not UTF-8 become U+FFFD and characters XML
// cannot hold (zero characters and other controls but tab, line feed and carriage return) become
// blanks, so the service always gets a document it can parse.
std::string XmlSafeText(const std::string& text);

// Whether the file name's extension (after the last dot, lower-cased) occurs in "mp3,wma,ogg,m4a".
// A substring test: "mp", "m4" and "a" pass as well; no extension fails.
bool IsSupportedAudioExt(const std::string& path);

// The size in bytes of what the path names (relative paths against the current folder), 0 for a
// folder, -1 when nothing is there.
std::int64_t FileSizeOf(const std::string& path);

} // namespace velmora
