// The document written the slow, obvious way, straight from the bytes of a map
// the reader accepts: the layout read by offset, whole numbers by the C
// library, real numbers by the exact number path, line feeds made CR LF at the
// end. The document writer must match it byte for byte.
#pragma once

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "mqo/mqo.h"
#include "numtext/numtext.h"
#include "numtext/numtext_internal.h"

// The verdict the layout alone implies: names, a signed 16-bit count, then
// count records of 316 bytes; anything after them is ignored.
inline ReadResult ExpectedVerdict(const unsigned char* map, std::size_t size) {
  if (size < 312) return ReadResult::Truncated;
  if (map[311] & 0x80) return ReadResult::NegativeCount;
  const std::size_t count = std::size_t{map[310]} | std::size_t{map[311]} << 8;
  return size - 312 < count * 316 ? ReadResult::Truncated : ReadResult::Ok;
}

inline std::string ReferenceDocument(const unsigned char* map) {
  static const std::size_t kCorners[6][4] = {{0, 1, 2, 3}, {7, 6, 5, 4}, {4, 5, 1, 0},
                                             {5, 6, 2, 1}, {6, 7, 3, 2}, {7, 4, 0, 3}};
  // The host is little-endian, like the file.
  auto word = [&](std::size_t at) { std::uint32_t w; std::memcpy(&w, map + at, 4); return w; };
  auto real = [&](std::size_t at, int decimals, std::uint32_t sign = 0) {
    char text[FormatFixedFloatBufferSize(5)];
    return std::string(text, FormatFixedExact(WidenFloatBits(word(at) ^ sign), decimals, text));
  };
  const std::size_t count = std::size_t{map[310]} | std::size_t{map[311]} << 8;
  std::string s = "Metasequoia Document\nFormat Text Ver 1.0\n\nMaterial 10 {\n";
  for (const unsigned char* field = map; field < map + 310; field += 31) {
    const std::string name(reinterpret_cast<const char*>(field), strnlen(reinterpret_cast<const char*>(field), 31));
    s += "\t\"" + (name.empty() ? "empty" : name) + "\" shader(3) col(1.000 1.000 1.000 1.000) dif(0.900) amb(0.400) "
         "emi(0.100) spc(0.000) power(5.00) tex(\"" + name + "\")\n";
  }
  s += "}\n\nObject \"map\" {\n\tvisible 15\n\tlocking 0\n\tshading 1\n\tfacet 0\n\tcolor 0.898 0.498 0.698\n"
       "\tcolor_type 0\n\tvertex " + std::to_string(8 * count) + " {\n";
  for (std::size_t at = 312; at < 312 + 316 * count; at += 316)
    for (std::size_t c = at; c < at + 32; c += 4)  // x, y and z lists; the first axis mirrored
      s += "\t\t" + real(c, 4, 0x80000000u) + ' ' + real(c + 32, 4) + ' ' + real(c + 64, 4) + '\n';
  s += "\t}\n\tface " + std::to_string(6 * count) + " {\n";
  for (std::size_t b = 0; b < count; ++b) {
    for (std::size_t f = 0; f < 6; ++f) {
      const std::size_t *t = kCorners[f], v = 8 * b, at = 312 + 316 * b + 16 * f;  // u at 96, v at 192
      char line[96];
      std::snprintf(line, sizeof line, "\t\t4 V(%zu %zu %zu %zu) M(%d) UV(", v + t[3], v + t[2], v + t[1], v + t[0],
                    static_cast<int>(word(312 + 316 * b + 288 + 4 * f)));
      s += line;
      for (std::size_t k = 0; k < 16; k += 4)
        s += real(at + 96 + k, 5) + ' ' + real(at + 192 + k, 5) + (k < 12 ? ' ' : ')');
      s += '\n';
    }
  }
  std::string crlf;
  for (char ch : s + "\t}\n}\n\nEof") crlf += ch == '\n' ? "\r\n" : std::string(1, ch);
  return crlf;
}

// The document writer's output in pieces of at most `capacity` bytes, each
// into a buffer of exactly that size; a piece that does not end a line, or a
// writer that goes on after its end, spoils the result.
inline std::string WrittenDocument(const BlockData& data, std::size_t capacity) {
  std::unique_ptr<char[]> buffer(new char[capacity]);
  MqoCursor cursor{};
  std::string doc;
  while (std::size_t n = MqoDocumentNext(data, &cursor, buffer.get(), capacity)) {
    doc.append(buffer.get(), n);
    if (doc.back() != '\n' && !doc.ends_with("Eof")) return doc + "<a piece ends inside a line>";
  }
  return MqoDocumentNext(data, &cursor, buffer.get(), capacity) ? doc + "<more after the end>" : doc;
}
