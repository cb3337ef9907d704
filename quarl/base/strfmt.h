// The one bounded wide-text formatter of the suite.
//
// Every text of the suite goes through these functions. They always write a
// terminator when there is room for one, never write past the capacity, and cut
// what does not fit. Conversions follow Microsoft's wide-format meaning, which the
// suite's format strings assume: in a wide format %s, %ls and %ws are wide texts,
// %S and %hs narrow ones; %c is a wide character, %C and %hc narrow. MinGW's own
// C99 printf gives %s the narrow meaning instead, and msvcrt's _vsnwprintf leaves
// the buffer unterminated on overflow; hence this formatter.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cwchar>

namespace quarl {

// Formats into buf (capacity cch characters, terminator included). Returns true
// when the whole text fitted; false when it was cut, or when buf is null or cch
// is 0 (then nothing is written).
bool FormatW(wchar_t* buf, size_t cch, const wchar_t* fmt, ...);
bool VFormatW(wchar_t* buf, size_t cch, const wchar_t* fmt, va_list ap);

// Bounded copies. CopyW copies up to the source's terminator, CopyNW at most
// srcLen characters (stopping early at a terminator). Same result rules as FormatW.
bool CopyW(wchar_t* buf, size_t cch, const wchar_t* src);
bool CopyNW(wchar_t* buf, size_t cch, const wchar_t* src, size_t srcLen);

// A capacity given in bytes holds half as many characters, less one for the
// terminator; this is the character capacity to hand to the functions above.
constexpr size_t CchFromBytes(size_t cb) { return cb / sizeof(wchar_t); }

}  // namespace quarl
