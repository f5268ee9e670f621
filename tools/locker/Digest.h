#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

typedef struct evp_md_ctx_st EVP_MD_CTX;

namespace velmora::locker {

// MD5 of the text as 32 hex digits with upper-case letters: the form the client sends as
// "hashpassword".
std::string Md5UpperHex(std::string_view text);

// SHA-1 fed piece by piece, so uploads are hashed while they arrive instead of read back.
class Sha1Stream {
public:
  Sha1Stream();
  ~Sha1Stream();
  Sha1Stream(const Sha1Stream&) = delete;
  Sha1Stream& operator=(const Sha1Stream&) = delete;
  void Update(const void* data, std::size_t size);
  // 40 lower-case hex digits; the stream must not be fed afterwards.
  std::string FinishHex();

private:
  EVP_MD_CTX* ctx_;
};

std::string Sha1Hex(std::string_view data);

// Hex text of `bytes` bytes from the system's random source: entry keys, tokens, session ids.
std::string RandomHex(std::size_t bytes);

// A content hash id: exactly 40 lower-case hex digits.
bool IsHashId(std::string_view text);

} // namespace velmora::locker
