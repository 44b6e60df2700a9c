// Finding equal items, linear on every input: the mesh builder's own, not
// part of the mesh's contract (mesh.h). Each finds, for n items, the first
// item whose key equals each one's (first[i], i itself if none), or numbers
// items of few keys; each gives up where an input aimed at it would cost
// more than linear time, and another way takes over.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "blockdata/blockdata.h"

namespace mesh_equal {

// Every array the builder fills, freed with std::free. On glibc, one of
// 2 MiB or more starts on a 2 MiB boundary, so that all of it but its last
// part can be a huge page (PrepareToFill). From the heap's next byte, an
// array of 15 MB had 12 MB of huge pages and one of 3 MB none; each 4 KiB
// page costs a trap on first touch, even mapped in ahead, and on a virtual
// machine a costly one: OBJ with both options 0.92 of the CPU, MQO 0.89,
// glb 0.97. glibc's aligned blocks are ordinary heap blocks, merged again
// when freed (a batch of 50 maps held no more memory). Not rounded up to
// whole huge pages: a batch then held 18 MB more for each map it converted.
template <typename T>
T* Allocate(std::size_t count) {
  const std::size_t bytes = count ? count * sizeof(T) : 1;
  void* array = nullptr;
#if defined(__GLIBC__) && defined(__linux__)
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  if (bytes >= kHugePage) {
    if (posix_memalign(&array, kHugePage, bytes) != 0) return nullptr;
  } else {
    array = std::malloc(bytes);
  }
#else
  array = std::malloc(bytes);
#endif
  if (array) PrepareToFill(array, bytes);
  return static_cast<T*>(array);
}

inline std::uint32_t Mix(std::uint32_t h, std::uint32_t word) {
  h = (h ^ word) * 0x01000193u;
  return h ^ (h >> 15);
}
inline std::uint32_t Hash(const std::uint32_t* words, int n) {
  std::uint32_t h = 0x811c9dc5u;
  for (int i = 0; i < n; ++i) h = Mix(h, words[i]);
  h ^= h >> 16, h *= 0x85ebca6bu, h ^= h >> 13, h *= 0xc2b2ae35u;
  return h ^ (h >> 16);
}

template <int W>
struct Keyed {
  std::uint32_t hash, item, key[W];
};

// Stable radix sort by 11 bits at a time of word(x): a into b, or nothing
// (returning false) when every item has the same digit.
template <int W, typename WordFn>
bool SortDigit(const Keyed<W>* a, Keyed<W>* b, std::uint32_t n, int shift, const WordFn& word) {
  std::uint32_t start[2049] = {};
  for (std::uint32_t j = 0; j < n; ++j) ++start[(word(a[j]) >> shift & 2047) + 1];
  if (start[(word(a[0]) >> shift & 2047) + 1] == n) return false;
  for (int d = 0; d < 2048; ++d) start[d + 1] += start[d];
  for (std::uint32_t j = 0; j < n; ++j) b[start[word(a[j]) >> shift & 2047]++] = a[j];
  return true;
}

// Sorts n > 0 items by their whole keys, exactly, and returns where they are
// (a or b). Equal keys stay in item order.
template <int W>
Keyed<W>* SortByKey(Keyed<W>* a, Keyed<W>* b, std::uint32_t n) {
  for (int w = W; w-- > 0;)
    for (int shift = 0; shift < 32; shift += 11)
      if (SortDigit<W>(a, b, n, shift, [w](const Keyed<W>& x) { return x.key[w]; })) std::swap(a, b);
  return a;
}

// Within a run of n items that may be equal (in item order), points each at
// the first equal one. The run's distinct keys so far are kept in scratch
// and compared pair by pair, as a run seldom holds more than one or two; a
// run with many, as a map aimed at the hash would make, is sorted by its
// whole keys instead, so that no input costs more than linear time. scratch
// has room for n items.
constexpr std::uint32_t kFewDistinct = 16;
template <int W>
void FirstInRun(Keyed<W>* run, Keyed<W>* scratch, std::uint32_t n, std::uint32_t* first) {
  auto same = [](const Keyed<W>& x, const Keyed<W>& y) { return std::memcmp(x.key, y.key, sizeof x.key) == 0; };
  std::uint32_t distinct = 0;
  for (std::uint32_t e = 0; n > 1 && e < n; ++e) {
    std::uint32_t r = 0;
    while (r < distinct && !same(scratch[r], run[e])) ++r;
    if (r < distinct) {
      first[run[e].item] = scratch[r].item;
    } else if (distinct < kFewDistinct) {
      scratch[distinct++] = run[e];
    } else {
      const Keyed<W>* sorted = SortByKey<W>(run, scratch, n);
      for (std::uint32_t k = 1, start = 0; k < n; ++k)
        if (same(sorted[k], sorted[start])) first[sorted[k].item] = sorted[start].item;
        else start = k;
      return;
    }
  }
}

// Memory a caller lends for a while, to be used as it is found.
struct Room {
  void* at;
  std::size_t bytes;
};

// FirstOfEqual's first way: each item's key is looked up, in item order,
// among the distinct keys so far, in a table of at least twice n slots that
// hold an item and its key's hash (8 bytes a slot, and no records to sort).
// On a large map a look is a cache miss, but one that does not wait for the
// one before; sorting costs more. Gives up (false) once the looks have
// taken kTableSteps steps an item, as a map aimed at the hash would make, so
// that no input costs more than linear time; FirstOfEqual then sorts.
constexpr std::uint64_t kTableSteps = 4;
// The table's slots for n items, 2^bits: at least 2n.
inline int TableBits(std::uint32_t n) {
  int bits = 4;
  while (bits < 31 && (std::uint64_t{1} << bits) < 2 * std::uint64_t{n}) ++bits;
  return bits;
}
template <int W, typename KeyFn>
bool FirstOfEqualInTable(std::uint32_t n, const KeyFn& key, std::uint32_t* first, const Room& room) {
  const int bits = TableBits(n);
  const std::size_t slots = std::size_t{1} << bits, mask = slots - 1;
  const bool own = room.bytes < slots * sizeof(std::uint64_t);
  auto* table = own ? Allocate<std::uint64_t>(slots) : static_cast<std::uint64_t*>(room.at);
  bool done = table != nullptr;
  if (table) std::memset(table, 0, slots * sizeof *table);
  // Keys and hashes are made kAhead items early, and their slots fetched
  // meanwhile.
  constexpr std::uint32_t kAhead = 16;
  struct Ahead {
    std::uint32_t hash, words[W];
    bool keyed;
  } ahead[kAhead];
  auto make = [&](std::uint32_t i, Ahead* a) {
    if (!(a->keyed = key(i, a->words))) return;
    a->hash = Hash(a->words, W);
    __builtin_prefetch(&table[a->hash >> (32 - bits)]);
  };
  for (std::uint32_t i = 0; done && i < kAhead && i < n; ++i) make(i, &ahead[i]);
  std::uint64_t steps = 0;
  for (std::uint32_t i = 0; done && i < n; ++i) {
    first[i] = i;
    const Ahead a = ahead[i % kAhead];
    if (i + kAhead < n) make(i + kAhead, &ahead[i % kAhead]);
    if (!a.keyed) continue;
    const std::uint32_t h = a.hash;
    std::uint32_t other[W];
    for (std::size_t slot = h >> (32 - bits);; slot = (slot + 1) & mask) {
      const std::uint64_t entry = table[slot];
      if (!entry) {
        table[slot] = std::uint64_t{h} << 32 | (i + 1);
        break;
      }
      const auto j = static_cast<std::uint32_t>(entry) - 1;
      if (entry >> 32 == h && (key(j, other), std::memcmp(a.words, other, sizeof other) == 0)) {
        first[i] = j;
        break;
      }
      if (++steps > kTableSteps * n) {
        done = false;
        break;
      }
    }
  }
  if (own) std::free(table);
  return done;
}

// Finds, for each of n items, the first item equal to it: first[i] = the
// smallest j whose key equals i's (i itself if none). key(i, words) gives an
// item's W words, or false to leave it alone. First by a table (above);
// where that gives up, the items are sorted by the top 22 bits of their
// keys' hash, so equal keys meet in runs, 2 x (8 + 4W) bytes an item while
// it runs. Either way uses `room` where it is large enough.
template <int W, typename KeyFn>
bool FirstOfEqual(std::uint32_t n, const KeyFn& key, std::uint32_t* first, const Room& room = {}) {
  if (FirstOfEqualInTable<W>(n, key, first, room)) return true;
  const bool own = room.bytes < 2 * std::size_t{n} * sizeof(Keyed<W>);
  Keyed<W>* a = own ? Allocate<Keyed<W>>(n) : static_cast<Keyed<W>*>(room.at);
  Keyed<W>* b = own ? Allocate<Keyed<W>>(n) : a + n;
  if (!a || !b) {
    if (own) std::free(a), std::free(b);
    return false;
  }
  std::uint32_t m = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    first[i] = i;
    if (key(i, a[m].key)) a[m].hash = Hash(a[m].key, W), a[m++].item = i;
  }
  for (int shift = 10; m && shift < 32; shift += 11)
    if (SortDigit<W>(a, b, m, shift, [](const Keyed<W>& x) { return x.hash; })) std::swap(a, b);
  for (std::uint32_t j = 0, k; j < m; j = k) {
    for (k = j + 1; k < m && a[k].hash >> 10 == a[j].hash >> 10;) ++k;
    FirstInRun<W>(a + j, b + j, k - j, first);
  }
  if (own) std::free(a), std::free(b);
  return true;
}

// Numbers n items of few distinct keys, as a map's UV pairs mostly are, in
// order of first use, into number[] and *count: a small table, in cache,
// gives each item its number in one look. It gives up (false) once it would
// hold more than kFewKeys keys or a look takes kFewProbes steps, so that no
// input costs more than linear time; FirstOfEqual then does it all.
// key(i) is asked for once an item, in order from item 0, so a caller may
// make several items' keys at once.
constexpr std::uint32_t kFewSlots = 16384, kFewKeys = kFewSlots / 2, kFewProbes = 32;
template <typename KeyFn>
bool NumberFew(std::uint32_t n, const KeyFn& key, std::uint32_t* number, std::uint32_t* count) {
  struct Slot {
    std::uint64_t key;
    std::uint32_t number;  // + 1; 0 while empty
  };
  auto* table = static_cast<Slot*>(std::calloc(kFewSlots, sizeof(Slot)));
  bool done = table != nullptr;
  *count = 0;
  for (std::uint32_t i = 0; done && i < n; ++i) {
    const std::uint64_t k = key(i);
    // The top 14 bits of k times 2^64 / phi.
    for (auto slot = static_cast<std::uint32_t>(k * 0x9e3779b97f4a7c15u >> 50), probes = 0u;; slot = (slot + 1) % kFewSlots) {
      Slot& entry = table[slot];
      if (!entry.number) {
        done = *count < kFewKeys;
        entry = {k, ++*count};
        number[i] = *count - 1;
        break;
      }
      if (entry.key == k) {
        number[i] = entry.number - 1;
        break;
      }
      if (++probes == kFewProbes) {
        done = false;
        break;
      }
    }
  }
  std::free(table);
  return done;
}

// FirstOfEqual for items that equal items put in the same bucket (a
// corner's vertex): the items are counted into their buckets, in order, and
// each bucket compared like a run of equal hashes. Less memory and fewer
// passes than sorting by a hash: 4 bytes an item and a bucket. Items in
// bucket `buckets` are left alone.
template <int W, typename BucketFn, typename KeyFn>
bool FirstOfEqualInBuckets(std::uint32_t n, std::uint32_t buckets, const BucketFn& bucket, const KeyFn& key,
                           std::uint32_t* first) {
  auto* end = static_cast<std::uint32_t*>(std::calloc(buckets + 2, sizeof(std::uint32_t)));
  auto* order = Allocate<std::uint32_t>(n);
  Keyed<W>* run = nullptr;
  bool ok = end && order;
  std::uint32_t largest = 0;
  for (std::uint32_t i = 0; ok && i < n; ++i) ++end[bucket(i) + 1], first[i] = i;
  for (std::uint32_t b = 0; ok && b <= buckets; ++b) {
    if (b < buckets) largest = std::max(largest, end[b + 1]);
    end[b + 1] += end[b];
  }
  for (std::uint32_t i = 0, b; ok && i < n; ++i)
    if ((b = bucket(i)) < buckets) order[end[b]++] = i;
  ok = ok && (run = Allocate<Keyed<W>>(2 * std::size_t{largest})) != nullptr;
  for (std::uint32_t b = 0, begin = 0; ok && b < buckets; begin = end[b++]) {
    for (std::uint32_t j = begin; j < end[b]; ++j) key(run[j - begin].item = order[j], run[j - begin].key);
    FirstInRun<W>(run, run + largest, end[b] - begin, first);
  }
  std::free(end), std::free(order), std::free(run);
  return ok;
}

// FirstOfEqualInBuckets for the glTF corners, in one pass in corner order:
// each distinct corner so far is kept in its mesh vertex's chain, and a
// corner equal to one in its chain points at it. A link carries the group of
// the corner it leads to, so that only corners of the same group (from faces
// close by in its run) are compared; a group's corners meet their vertices
// in file order, so the chains' heads are read in order too. Until the end,
// first[c] is a distinct corner's link to the next in its chain, and an equal
// corner's has its top bit set. Gives up (false) once a look takes
// kChainSteps steps, as a map aimed at it would make, so that no input costs
// more than linear time; and for more corners than a link can name.
constexpr std::uint32_t kChainSteps = 32;
template <typename VertexFn, typename KeyFn>
bool FirstOfEqualChained(std::uint32_t n, std::uint32_t vertices, const VertexFn& vertex, const KeyFn& key,
                         std::uint32_t* first) {
  constexpr std::uint32_t kEnd = 0xffffffffu, kEqual = 0x80000000u, kCorner = 0xffffffu;
  // A head's high word says which groups its chain may hold (bit g % 32 for
  // group g), so that a corner whose group it lacks, as most are where faces
  // seldom meet, joins it without a walk.
  auto* head = n <= kCorner ? Allocate<std::uint64_t>(vertices) : nullptr;
  if (!head) return false;
  for (std::uint32_t v = 0; v < vertices; ++v) head[v] = kEnd;
  bool ok = true;
  for (std::uint32_t c = 0; ok && c < n; ++c) {
    const std::uint32_t v = vertex(c);
    if (v == vertices) {  // left alone: its own first
      first[c] = kEnd;
      continue;
    }
    std::uint32_t words[6], other[6];
    key(c, words);
    const std::uint64_t chain = head[v], group = std::uint64_t{1} << (words[0] % 32) << 32;
    std::uint32_t link = chain & group ? static_cast<std::uint32_t>(chain) : kEnd;
    for (std::uint32_t steps = 0; link != kEnd && ok; link = first[link & kCorner]) {
      if (link >> 24 == words[0] && (key(link & kCorner, other), std::memcmp(words, other, sizeof words) == 0)) break;
      ok = ++steps < kChainSteps;
    }
    if (link == kEnd) first[c] = static_cast<std::uint32_t>(chain), head[v] = (chain | group) >> 32 << 32 | c | words[0] << 24;
    else first[c] = kEqual | (link & kCorner);
  }
  std::free(head);
  for (std::uint32_t c = 0; ok && c < n; ++c) first[c] = first[c] != kEnd && first[c] & kEqual ? first[c] & ~kEqual : c;
  return ok;
}

}  // namespace mesh_equal
