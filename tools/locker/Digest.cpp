#include "Digest.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <stdexcept>

namespace velmora::locker {
namespace {

std::string Hex(const unsigned char* data, std::size_t size, const char* digits) {
  std::string text;
  text.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    text += digits[data[i] >> 4];
    text += digits[data[i] & 0xf];
  }
  return text;
}

} // namespace

std::string Md5UpperHex(std::string_view text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr) != 1)
    throw std::runtime_error("MD5 is not available");
  return Hex(digest, length, "0123456789ABCDEF");
}

Sha1Stream::Sha1Stream() : ctx_(EVP_MD_CTX_new()) {
  if (!ctx_ || EVP_DigestInit_ex(ctx_, EVP_sha1(), nullptr) != 1) {
    EVP_MD_CTX_free(ctx_);
    throw std::runtime_error("SHA-1 is not available");
  }
}

Sha1Stream::~Sha1Stream() { EVP_MD_CTX_free(ctx_); }

void Sha1Stream::Update(const void* data, std::size_t size) { EVP_DigestUpdate(ctx_, data, size); }

std::string Sha1Stream::FinishHex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(ctx_, digest, &length);
  return Hex(digest, length, "0123456789abcdef");
}

std::string Sha1Hex(std::string_view data) {
  Sha1Stream stream;
  stream.Update(data.data(), data.size());
  return stream.FinishHex();
}

std::string RandomHex(std::size_t bytes) {
  std::string raw(bytes, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(raw.data()), static_cast<int>(bytes)) != 1)
    throw std::runtime_error("no random bytes available");
  return Hex(reinterpret_cast<const unsigned char*>(raw.data()), raw.size(), "0123456789abcdef");
}

bool IsHashId(std::string_view text) {
  if (text.size() != 40) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

} // namespace velmora::locker
