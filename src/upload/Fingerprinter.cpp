#include "upload/Fingerprinter.h"

#include "app/ShowStatus.h"
#include "store/LocalDatabases.h"
#include "store/Statements.h"
#include "upload/Sha1.h"

#include <SQLiteCpp/Statement.h>

#include <filesystem>

namespace velmora {
namespace {

std::string TrimControl(const std::string& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
  return text.substr(begin, end - begin);
}

} // namespace

void Fingerprinter::SetDeepAnalysis(bool visible) {
  deepAnalysis_ = visible;
  ui_.ViewChanged(View::DeepAnalysis);
}

std::string Fingerprinter::FileFingerprint(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return kInvalidHashValue;

  const std::string key = LookupKey(path);
  try {
    SQLite::Statement lookup(meta_, sql::kSelectKnownHash);
    lookup.bind(":location", key);
    if (lookup.executeStep()) return lookup.getColumn("hashid").getString();
  } catch (const std::exception& failure) {
    ui_.ShowMessage("error with " + key);
    ui_.ShowErrorDisplay(failure.what());
    return kInvalidHashValue;
  }

  SetDeepAnalysis(true);
  ShowStatus(ui_, "Deep analysis of " + key);
  ui_.ProcessMessages();
  const auto hash = Sha1OfFile(path);
  if (!hash) {
    SetDeepAnalysis(false);
    return kInvalidHashValue;
  }

  try {
    ExecStatement(meta_, "begin transaction");
    SQLite::Statement insert(meta_, sql::kInsertKnownHash);
    insert.bind(":hashid", TrimControl(*hash));
    insert.bind(":location", key);
    insert.exec();
    ExecStatement(meta_, "commit transaction");
  } catch (...) {
    try { ExecStatement(meta_, "rollback transaction"); } catch (...) {}
    SetDeepAnalysis(false);
    throw;
  }
  SetDeepAnalysis(false);
  return *hash;
}

} // namespace velmora
