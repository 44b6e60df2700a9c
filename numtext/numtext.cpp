// Interim fast-path-only formatter so the converter links while the exact
// formatter is finished; it is replaced whole.
#include "numtext/numtext.h"
#include <cstring>
#include <cstdio>
static std::size_t Marker(bool neg, const char* m, int decimals, char* out) {
  char* p = out; if (neg) *p++='-'; *p++=m[0]; *p++='.'; int n=0; for (const char* q=m+1;*q;++q,++n) *p++=*q; for(;n<decimals;++n) *p++='0'; return (std::size_t)(p-out);
}
std::size_t FormatFixedFloatBits(std::uint32_t bits, int decimals, char* out) {
  bool neg = bits >> 31; std::uint32_t ex = (bits >> 23) & 0xff, man = bits & 0x7fffff;
  if (ex == 0xff) { if (!man) return Marker(neg,"1#INF",decimals,out); if (bits==0xffc00000u) return Marker(neg,"1#IND",decimals,out); return Marker(neg, (man>>22)?"1#QNAN":"1#SNAN",decimals,out);}
  std::uint64_t m = ex ? (man | 0x800000u) : man; int q = ex ? (int)ex - 150 : -149;
  char* p = out;
  if (m == 0) { *p++='0'; *p++='.'; for (int i=0;i<decimals;++i) *p++='0'; return (std::size_t)(p-out); }
  if (neg) *p++='-';
  if (q >= 0) { unsigned long long v = (unsigned long long)m << (q > 40 ? 40 : q); p += std::sprintf(p, "%llu.", v); for (int i=0;i<decimals;++i) *p++='0'; return (std::size_t)(p-out);}
  std::uint64_t pow10=1; for(int i=0;i<decimals;++i) pow10*=10; std::uint64_t t=m*pow10; int s=-q; std::uint64_t ip=0;
  if (s<=63){ ip=t>>s; std::uint64_t rem=t-(ip<<s); if (rem >= (1ull<<(s-1))) ++ip; }
  char d[32]; int n = std::snprintf(d, sizeof d, "%0*llu", decimals+1, (unsigned long long)ip);
  std::memcpy(p, d, (std::size_t)(n-decimals)); p+=n-decimals; *p++='.'; std::memcpy(p, d+n-decimals, (std::size_t)decimals); p+=decimals;
  return (std::size_t)(p-out);
}
