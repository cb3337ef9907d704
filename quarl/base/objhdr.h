// The object header that every class of the libraries begins with: two signature
// words of four ASCII characters, the code address of whoever last initialised the
// object, and its size. A stale or foreign object fails the signature test, and
// every operation then does nothing and answers its empty value.
#pragma once

#include <cstdint>

namespace quarl {

// Four characters as they appear in memory, first character lowest.
constexpr uint32_t Sig(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
         uint32_t(uint8_t(d)) << 24;
}

// "del" and a zero byte: what a deleted object carries in its first word.
constexpr uint32_t kSigDeleted = Sig('d', 'e', 'l', '\0');

struct OBJHEADER {
  uint32_t sig1;
  uint32_t sig2;
  void* creator;
  uint32_t size;
};

inline void HeaderSet(OBJHEADER& h, uint32_t s1, uint32_t s2, void* creator, uint32_t size) {
  h.sig1 = s1;
  h.sig2 = s2;
  h.creator = creator;
  h.size = size;
}

inline bool HeaderIs(const OBJHEADER& h, uint32_t s1, uint32_t s2) {
  return h.sig1 == s1 && h.sig2 == s2;
}

inline void HeaderMarkDeleted(OBJHEADER& h) { h.sig1 = kSigDeleted; }

}  // namespace quarl

// The code address the current function returns to: the "creator" of an object
// initialised here. Must be used in the function whose caller is meant.
#define QUARL_CALLER_ADDRESS() __builtin_extract_return_addr(__builtin_return_address(0))
