#include "quarl/base/strfmt.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>

namespace quarl {
namespace {

// Collects output, counting what did not fit.
struct Sink {
  wchar_t* buf;
  size_t cap;  // characters available before the terminator
  size_t len = 0;
  bool cut = false;

  void Put(wchar_t c) {
    if (len < cap)
      buf[len++] = c;
    else
      cut = true;
  }
  void Pad(wchar_t c, long n) {
    for (; n > 0 && !cut; --n) Put(c);
    if (n > 0) cut = true;
  }
};

struct Spec {
  bool left = false, plus = false, space = false, alt = false, zero = false;
  long width = 0;
  long prec = -1;
  enum { kNone, kShort, kChar, kLong, kLongLong, kPtr, kWide } len = kNone;
};

// Wide text, cut to the precision, padded to the width.
void PutWide(Sink& out, const Spec& sp, const wchar_t* s) {
  if (!s) s = L"(null)";
  size_t n = 0;
  while (s[n] && (sp.prec < 0 || n < size_t(sp.prec))) ++n;
  long pad = sp.width > long(n) ? sp.width - long(n) : 0;
  if (!sp.left) out.Pad(L' ', pad);
  for (size_t i = 0; i < n && !out.cut; ++i) out.Put(s[i]);
  if (sp.left) out.Pad(L' ', pad);
}

// Narrow text in the ANSI code page, converted in pieces so no heap is needed.
void PutNarrow(Sink& out, const Spec& sp, const char* s) {
  if (!s) s = "(null)";
  size_t n = 0;
  while (s[n] && (sp.prec < 0 || n < size_t(sp.prec))) ++n;
  wchar_t tmp[256];
  size_t wide = 0;
  for (size_t i = 0; i < n;) {
    int chunk = int(n - i > 128 ? 128 : n - i);
    wide += size_t(MultiByteToWideChar(CP_ACP, 0, s + i, chunk, tmp, 256));
    i += size_t(chunk);
  }
  long pad = sp.width > long(wide) ? sp.width - long(wide) : 0;
  if (!sp.left) out.Pad(L' ', pad);
  for (size_t i = 0; i < n && !out.cut;) {
    int chunk = int(n - i > 128 ? 128 : n - i);
    int got = MultiByteToWideChar(CP_ACP, 0, s + i, chunk, tmp, 256);
    for (int k = 0; k < got; ++k) out.Put(tmp[k]);
    i += size_t(chunk);
  }
  if (sp.left) out.Pad(L' ', pad);
}

// Numbers go through the C library's narrow formatter with a rebuilt, fully
// standard conversion (the only output is ASCII), then are widened.
void PutNumber(Sink& out, const Spec& sp, char conv, const char* lenMod, ...) {
  char spec[32];
  char* p = spec;
  *p++ = '%';
  if (sp.left) *p++ = '-';
  if (sp.plus) *p++ = '+';
  if (sp.space) *p++ = ' ';
  if (sp.alt) *p++ = '#';
  if (sp.zero) *p++ = '0';
  *p++ = '*';
  if (sp.prec >= 0) {
    *p++ = '.';
    *p++ = '*';
  }
  for (const char* m = lenMod; *m;) *p++ = *m++;
  *p++ = conv;
  *p = 0;

  // Widths and precisions are bounded so one conversion fits the scratch buffer.
  int width = int(sp.width > 1024 ? 1024 : sp.width);
  int prec = int(sp.prec > 512 ? 512 : sp.prec);
  char tmp[2048];
  va_list ap;
  va_start(ap, lenMod);
  int n;
  if (conv == 'f' || conv == 'F' || conv == 'e' || conv == 'E' || conv == 'g' || conv == 'G' ||
      conv == 'a' || conv == 'A') {
    double v = va_arg(ap, double);
    n = sp.prec >= 0 ? __mingw_snprintf(tmp, sizeof tmp, spec, width, prec, v)
                     : __mingw_snprintf(tmp, sizeof tmp, spec, width, v);
  } else {
    long long v = va_arg(ap, long long);
    n = sp.prec >= 0 ? __mingw_snprintf(tmp, sizeof tmp, spec, width, prec, v)
                     : __mingw_snprintf(tmp, sizeof tmp, spec, width, v);
  }
  va_end(ap);
  if (n < 0) return;
  size_t have = size_t(n) < sizeof tmp ? size_t(n) : sizeof tmp - 1;
  for (size_t i = 0; i < have && !out.cut; ++i) out.Put(wchar_t(uint8_t(tmp[i])));
  if (have < size_t(n)) out.cut = true;
}

long ReadCount(const wchar_t*& f, va_list& ap) {
  if (*f == L'*') {
    ++f;
    return va_arg(ap, int);
  }
  long v = 0;
  while (*f >= L'0' && *f <= L'9') {
    if (v < 100000) v = v * 10 + (*f - L'0');
    ++f;
  }
  return v;
}

}  // namespace

bool VFormatW(wchar_t* buf, size_t cch, const wchar_t* fmt, va_list args) {
  if (!buf || cch == 0) return false;
  Sink out{buf, cch - 1};
  if (!fmt) fmt = L"";
  va_list ap;
  va_copy(ap, args);

  for (const wchar_t* f = fmt; *f && !out.cut;) {
    if (*f != L'%') {
      out.Put(*f++);
      continue;
    }
    const wchar_t* start = f++;
    if (*f == L'%') {
      out.Put(*f++);
      continue;
    }
    Spec sp;
    for (;; ++f) {
      if (*f == L'-') sp.left = true;
      else if (*f == L'+') sp.plus = true;
      else if (*f == L' ') sp.space = true;
      else if (*f == L'#') sp.alt = true;
      else if (*f == L'0') sp.zero = true;
      else break;
    }
    sp.width = ReadCount(f, ap);
    if (sp.width < 0) {  // a negative width from '*' means left-justified
      sp.left = true;
      sp.width = -sp.width;
    }
    if (*f == L'.') {
      ++f;
      sp.prec = ReadCount(f, ap);
      if (sp.prec < 0) sp.prec = -1;
    }
    // Length modifiers, Microsoft's (I, I32, I64, w) and the standard ones.
    if (f[0] == L'I' && f[1] == L'6' && f[2] == L'4') {
      sp.len = Spec::kLongLong;
      f += 3;
    } else if (f[0] == L'I' && f[1] == L'3' && f[2] == L'2') {
      sp.len = Spec::kNone;
      f += 3;
    } else if (*f == L'I' || *f == L'z' || *f == L't' || *f == L'j') {
      sp.len = *f == L'j' ? Spec::kLongLong : Spec::kPtr;
      ++f;
    } else if (*f == L'h') {
      sp.len = f[1] == L'h' ? Spec::kChar : Spec::kShort;
      f += f[1] == L'h' ? 2 : 1;
    } else if (*f == L'l') {
      sp.len = f[1] == L'l' ? Spec::kLongLong : Spec::kLong;
      f += f[1] == L'l' ? 2 : 1;
    } else if (*f == L'L' || *f == L'q') {
      sp.len = Spec::kLongLong;
      ++f;
    } else if (*f == L'w') {
      sp.len = Spec::kWide;
      ++f;
    }

    wchar_t conv = *f;
    if (!conv) break;
    ++f;
    switch (conv) {
      case L'd':
      case L'i': {
        long long v;
        switch (sp.len) {
          case Spec::kLongLong: v = va_arg(ap, long long); break;
          case Spec::kPtr: v = va_arg(ap, intptr_t); break;
          case Spec::kShort: v = short(va_arg(ap, int)); break;
          case Spec::kChar: v = static_cast<signed char>(va_arg(ap, int)); break;
          default: v = va_arg(ap, int); break;
        }
        PutNumber(out, sp, 'd', "ll", v);
        break;
      }
      case L'u':
      case L'o':
      case L'x':
      case L'X': {
        unsigned long long v;
        switch (sp.len) {
          case Spec::kLongLong: v = va_arg(ap, unsigned long long); break;
          case Spec::kPtr: v = va_arg(ap, uintptr_t); break;
          case Spec::kShort: v = static_cast<unsigned short>(va_arg(ap, unsigned)); break;
          case Spec::kChar: v = static_cast<unsigned char>(va_arg(ap, unsigned)); break;
          default: v = va_arg(ap, unsigned); break;
        }
        PutNumber(out, sp, char(conv), "ll", static_cast<long long>(v));
        break;
      }
      case L'p': {
        // Microsoft's form: upper-case hex, zero-padded to the pointer width.
        Spec ps;
        ps.width = long(2 * sizeof(void*));
        ps.zero = true;
        ps.left = false;
        Spec outer = sp;
        wchar_t digits[24];
        Sink tmp{digits, 23};
        PutNumber(tmp, ps, 'X', "ll", static_cast<long long>(uintptr_t(va_arg(ap, void*))));
        digits[tmp.len] = 0;
        outer.prec = -1;
        PutWide(out, outer, digits);
        break;
      }
      case L'f': case L'F': case L'e': case L'E':
      case L'g': case L'G': case L'a': case L'A':
        PutNumber(out, sp, char(conv), "", va_arg(ap, double));
        break;
      case L'c':
      case L'C': {
        int v = va_arg(ap, int);
        bool narrow = sp.len == Spec::kShort || (conv == L'C' && sp.len != Spec::kLong && sp.len != Spec::kWide);
        Spec cs = sp;
        cs.prec = -1;
        if (narrow) {
          char c[2] = {char(v), 0};
          PutNarrow(out, cs, c);
        } else {
          wchar_t c[2] = {wchar_t(v), 0};
          if (!c[0]) {  // a zero character is written, not taken as the end
            long pad = sp.width > 1 ? sp.width - 1 : 0;
            if (!sp.left) out.Pad(L' ', pad);
            out.Put(0);
            if (sp.left) out.Pad(L' ', pad);
          } else {
            PutWide(out, cs, c);
          }
        }
        break;
      }
      case L's':
      case L'S': {
        bool narrow = sp.len == Spec::kShort || (conv == L'S' && sp.len != Spec::kLong && sp.len != Spec::kWide);
        if (narrow)
          PutNarrow(out, sp, va_arg(ap, const char*));
        else
          PutWide(out, sp, va_arg(ap, const wchar_t*));
        break;
      }
      case L'n':
        // Writing through an argument is how format strings get exploited; the
        // argument is consumed and nothing is stored.
        (void)va_arg(ap, void*);
        break;
      default:
        // Unknown conversion: copy it as it stands.
        for (const wchar_t* c = start; c < f; ++c) out.Put(*c);
        break;
    }
  }
  va_end(ap);
  buf[out.len] = 0;
  return !out.cut;
}

bool FormatW(wchar_t* buf, size_t cch, const wchar_t* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  bool ok = VFormatW(buf, cch, fmt, ap);
  va_end(ap);
  return ok;
}

bool CopyNW(wchar_t* buf, size_t cch, const wchar_t* src, size_t srcLen) {
  if (!buf || cch == 0) return false;
  size_t n = 0;
  bool cut = false;
  if (src) {
    for (; n < srcLen && src[n]; ++n) {
      if (n == cch - 1) {
        cut = true;
        break;
      }
      buf[n] = src[n];
    }
  }
  buf[n] = 0;
  return !cut;
}

bool CopyW(wchar_t* buf, size_t cch, const wchar_t* src) {
  return CopyNW(buf, cch, src, SIZE_MAX);
}

}  // namespace quarl
