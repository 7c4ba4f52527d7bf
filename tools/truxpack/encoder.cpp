#include "tools/truxpack/encoder.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "archive/block_format.h"

namespace {

constexpr uint32_t kNil = 0xFFFFFFFFu;

// A fixed-size table of match-finder links, aligned to cache lines. The
// finders reach across megabytes at random, so on Linux the larger tables
// ask for huge pages, which removes most TLB misses.
class LinkTable {
 public:
  LinkTable(size_t count, uint32_t fill, bool filled) : count_(count) {
    size_t bytes = std::max<size_t>(count, 1) * sizeof(uint32_t);
#if defined(__linux__)
    constexpr size_t kHuge = size_t{2} << 20;
    if (bytes >= kHuge) {
      void* block = nullptr;
      if (posix_memalign(&block, kHuge, (bytes + kHuge - 1) / kHuge * kHuge) == 0) {
        madvise(block, (bytes + kHuge - 1) / kHuge * kHuge, MADV_HUGEPAGE);
        data_.reset(static_cast<uint32_t*>(block));
      }
    }
#endif
    if (!data_) data_.reset(static_cast<uint32_t*>(aligned_alloc(64, (bytes + 63) / 64 * 64)));  // whole cache lines
    if (!data_) throw std::bad_alloc();
    if (filled) std::fill(data_.get(), data_.get() + count_, fill);
  }
  uint32_t& operator[](size_t i) { return data_.get()[i]; }

 private:
  struct Free {
    void operator()(uint32_t* p) const { free(p); }
  };
  size_t count_;
  std::unique_ptr<uint32_t, Free> data_;
};

// Asks for the cache line at p ahead of its use. (The compiler drops some
// __builtin_prefetch calls whose address comes from a hash, so x86 gets the
// instruction itself.)
inline void PrefetchLine(const void* p) {
#if defined(__x86_64__) || defined(__i386__)
  asm volatile("prefetcht0 (%0)" : : "r"(p));
#else
  __builtin_prefetch(p);
#endif
}

inline uint32_t Load32(const unsigned char* p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}
inline uint64_t Load64(const unsigned char* p) {
  uint64_t v;
  memcpy(&v, p, 8);
  return v;
}

// Length of the common prefix of a and b, counted from `from`, below limit.
inline uint32_t CommonLength(const unsigned char* a, const unsigned char* b, uint32_t from, uint32_t limit) {
  uint32_t len = from;
  while (len + 8 <= limit) {
    uint64_t x = Load64(a + len) ^ Load64(b + len);
    if (x) return len + static_cast<uint32_t>(__builtin_ctzll(x) >> 3);
    len += 8;
  }
  while (len < limit && a[len] == b[len]) ++len;
  return len;
}

// Hash-table size: about one bucket per two input bytes, 2^12 to 2^22.
uint32_t HashBitsFor(size_t size) {
  uint32_t bits = 12;
  while (bits < 22 && (size_t{1} << bits) < size / 2) ++bits;
  return bits;
}

inline uint32_t Hash4(const unsigned char* p, uint32_t bits) { return (Load32(p) * 2654435761u) >> (32 - bits); }

// Least-significant-bit-first bit writer.
class BitWriter {
 public:
  explicit BitWriter(std::vector<unsigned char>& out) : out_(out) {}
  void Put(uint64_t value, uint32_t bits) {  // bits <= 32
    if (count_ >= 32) Drain32();
    acc_ |= (value & ((uint64_t{1} << bits) - 1)) << count_;
    count_ += bits;
    written_ += bits;
  }
  // Appends the first `bits` bits of a stream another writer made.
  void Append(const unsigned char* bytes, uint64_t bits) {
    size_t i = 0;
    for (; bits >= 32; bits -= 32, i += 4) Put(Load32(bytes + i), 32);
    for (; bits >= 8; bits -= 8, ++i) Put(bytes[i], 8);
    if (bits > 0) Put(bytes[i], static_cast<uint32_t>(bits));
  }
  uint64_t Written() const { return written_; }
  void PutVarNum(VarNumCode code, uint64_t value) {
    uint32_t k = VarNumPrefix(code, value);
    Put((uint64_t{1} << k) - 1, k + 1);  // k one-bits and the terminating zero
    Put(value, VarNumWidth(code, k));
  }
  void Finish() {
    while (count_ > 0) {
      out_.push_back(static_cast<unsigned char>(acc_));
      acc_ >>= 8;
      count_ = count_ > 8 ? count_ - 8 : 0;
    }
  }

 private:
  void Drain32() {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<unsigned char>(acc_ >> (8 * i)));
    acc_ >>= 32;
    count_ -= 32;
  }
  std::vector<unsigned char>& out_;
  uint64_t acc_ = 0;
  uint32_t count_ = 0;
  uint64_t written_ = 0;
};

// Turns parse decisions into codes; consecutive literal decisions become one
// literal run (one run is always cheaper than two).
class CodeSink {
 public:
  CodeSink(const unsigned char* data, BitWriter& writer) : data_(data), w_(writer) {}
  void Literals(size_t pos, size_t n) {
    if (litLen_ == 0) litStart_ = pos;
    litLen_ += n;
  }
  void Match(uint64_t length, uint64_t distance) {
    Flush();
    w_.Put(kSelectMatch, kMatchSelectorBits);
    w_.PutVarNum(kMatchLength, length - kMinMatchLength);
    w_.PutVarNum(kMatchDistance, distance - kMinMatchDistance);
  }
  void Run(unsigned char value, uint64_t count) {
    Flush();
    w_.Put(kSelectRun, kRunSelectorBits);
    w_.Put(value, 8);
    w_.PutVarNum(kRunCount, count - kMinRunCount);
  }
  void Flush() {
    if (litLen_ == 0) return;
    w_.Put(kSelectLiteral, kLiteralSelectorBits);
    w_.PutVarNum(kLiteralCount, litLen_ - kMinLiteralRun);
    for (size_t i = 0; i < litLen_; ++i) w_.Put(data_[litStart_ + i], 8);
    litLen_ = 0;
  }

 private:
  const unsigned char* data_;
  BitWriter& w_;
  size_t litStart_ = 0;
  size_t litLen_ = 0;
};

// Length of the run of bytes equal to data[pos], from pos, below limit.
inline uint32_t RunLength(const unsigned char* data, uint32_t pos, uint32_t limit) {
  uint32_t len = 1;
  while (pos + len < limit && data[pos + len] == data[pos]) ++len;
  return len;
}

struct Candidate {
  uint32_t length;
  uint32_t distance;
};

constexpr uint32_t kMaxPeriodicHistory = 1u << 20;

// The bytes from pos repeat with period d (d < ahead, where ahead is the
// number of bytes from pos that equal the ones d earlier). A back-reference
// at distance d could copy at most d of them; the largest multiple of d
// whose source still lies in the repeated stretch copies more, and each such
// code doubles the stretch behind the next one. Returns {0, 0} when no legal
// distance (>= 4) fits yet.
inline Candidate PeriodicMatch(const unsigned char* data, uint32_t pos, uint32_t d, uint32_t ahead) {
  uint32_t start = pos - d;
  uint32_t floor = start > kMaxPeriodicHistory ? start - kMaxPeriodicHistory : 0;
  while (start > floor && data[start - 1] == data[start - 1 + d]) --start;
  uint32_t distance = (pos - start) / d * d;
  if (distance < kMinMatchDistance) return {0, 0};
  return {std::min(ahead, distance), distance};
}

// A back-reference from more than kFarDistance back usually misses the
// decoder's caches, which costs about as much decoding time as several
// short codes. The fast level prices it kFarPenalty bits above its real
// size, so it takes such a match only when it saves clearly more than the
// nearer alternatives or literals would. The best level prices every code
// at its real size: an installer is downloaded once and decoded many times
// faster than a disk takes its files, so its bits go to size.
constexpr uint32_t kFarDistance = 1u << 18;
constexpr int32_t kFarPenalty = 16;
inline int32_t FarPenalty(uint32_t distance) { return distance > kFarDistance ? kFarPenalty : 0; }

// Bits saved by coding `length` bytes one way rather than as literals.
inline int32_t MatchGain(uint32_t length, uint32_t distance) {
  return static_cast<int32_t>(8 * length) - static_cast<int32_t>(MatchBits(length, distance));
}
inline int32_t RunGain(uint32_t count) {
  return static_cast<int32_t>(8 * count) - static_cast<int32_t>(ByteRunBits(count));
}

// ---------------------------------------------------------------- repeats from far back

// Repeats farther back than the finders' windows (a file shipped twice in
// different folders) are found through one table over the whole input. Its
// keys are content-defined anchors: a position is an anchor when a rolling
// hash of the kAnchorSpan bytes from it has its top kAnchorBits bits clear,
// about one position in 2^kAnchorBits. Both copies of a repeated stretch
// have their anchors in the same places, so a repeat some way longer than
// kAnchorSpan + 2^kAnchorBits bytes is met at one of its anchors whatever
// its alignment, and the parsers look the table up at anchors only.
constexpr uint32_t kAnchorSpan = 64;
constexpr uint32_t kAnchorBits = 4;      // best: one anchor in 16
constexpr uint32_t kFastAnchorBits = 6;  // fast: one in 64, for repeats of a few hundred bytes and more
constexpr uint32_t kLongSpan = 32;  // equal bytes needed before a far repeat is used

struct GearTable {
  uint64_t v[256];
  constexpr GearTable() : v() {
    uint64_t x = 0x7255C0DE5EEDull;
    for (uint64_t& e : v) {
      x += 0x9E3779B97F4A7C15ull;
      uint64_t z = x;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      e = z ^ (z >> 31);
    }
  }
};
constexpr GearTable kGear;

// Rolling hash of the kAnchorSpan bytes from a position. Positions asked for
// must not decrease; each byte is hashed at most once between jumps.
class AnchorCursor {
 public:
  AnchorCursor(const unsigned char* data, uint32_t size, uint32_t anchorBits)
      : data_(data), size_(size), anchorBits_(anchorBits) {}

  // True when pos is an anchor; hash is then its key.
  bool IsAnchor(uint32_t pos, uint64_t& hash) {
    if (size_ < kAnchorSpan || pos > size_ - kAnchorSpan) return false;
    uint32_t upTo = pos + kAnchorSpan;
    if (next_ < pos || next_ > upTo) {  // a jump (or the first call): start afresh at pos
      h_ = 0;
      next_ = pos;
    }
    while (next_ < upTo) h_ = (h_ << 1) + kGear.v[data_[next_++]];
    hash = h_;
    return (h_ >> (64 - anchorBits_)) == 0;
  }

 private:
  const unsigned char* data_;
  uint32_t size_;
  uint32_t anchorBits_;
  uint32_t next_ = kNil;  // bytes [next_ - kAnchorSpan, next_) are in h_
  uint64_t h_ = 0;
};

class LongRangeTable {
 public:
  // Each bucket holds the earliest anchors of its slot. Every thread walks
  // the whole input in order (hashing is cheap) and fills only its own
  // share of the buckets, so the table does not depend on the thread count.
  LongRangeTable(const unsigned char* data, uint32_t size, uint32_t anchorBits, unsigned threads)
      : data_(data), size_(size), anchorBits_(anchorBits) {
    uint32_t bits = 8;
    while (bits < 22 && (uint64_t{kWays} << bits) < (uint64_t{size} >> (anchorBits - 1))) ++bits;
    shift_ = 64 - bits;
    table_.assign(size_t{kWays} << bits, kNil);
    unsigned parts = std::max(1u, std::min(threads, 16u));
    std::vector<std::thread> workers;
    for (unsigned i = 1; i < parts; ++i) workers.emplace_back([this, i, parts] { Fill(i, parts); });
    Fill(0, parts);
    for (std::thread& t : workers) t.join();
  }

  uint32_t AnchorBits() const { return anchorBits_; }

  // At an anchor pos with key hash: the longest repeat there from the
  // bucket's positions before pos (at least kLongSpan bytes, at most limit
  // and the distance; the nearest of equal ones), or length 0.
  Candidate Find(uint32_t pos, uint64_t hash, uint32_t limit) const {
    const uint32_t* bucket = &table_[Slot(hash)];
    Candidate best{0, 0};
    for (uint32_t w = 0; w < kWays; ++w) {
      uint32_t q = bucket[w];
      if (q == kNil || q >= pos) break;  // positions ascend
      uint32_t d = pos - q;
      uint32_t most = std::min(limit, d);
      if (most < kLongSpan || memcmp(data_ + q, data_ + pos, kLongSpan) != 0) continue;
      uint32_t len = CommonLength(data_ + q, data_ + pos, kLongSpan, most);
      if (len >= best.length) best = {len, d};
    }
    return best;
  }

 private:
  static constexpr uint32_t kWays = 4;

  // Enters the anchors whose buckets lie in part `part` of `parts` equal
  // parts of the table.
  void Fill(unsigned part, unsigned parts) {
    const size_t from = table_.size() / parts * part;
    const size_t to = part + 1 == parts ? table_.size() : table_.size() / parts * (part + 1);
    AnchorCursor cursor(data_, size_, anchorBits_);
    uint64_t hash;
    for (uint32_t p = 0; p < size_; ++p) {
      if (!cursor.IsAnchor(p, hash)) continue;
      size_t slot = Slot(hash);
      if (slot < from || slot >= to) continue;
      uint32_t* bucket = &table_[slot];
      for (uint32_t w = 0; w < kWays; ++w) {
        if (bucket[w] != kNil) continue;
        bucket[w] = p;
        break;
      }
    }
  }

  size_t Slot(uint64_t hash) const { return static_cast<size_t>((hash * 0x9E3779B97F4A7C15ull) >> shift_) * kWays; }

  const unsigned char* data_;
  uint32_t size_;
  uint32_t anchorBits_;
  uint32_t shift_ = 0;
  std::vector<uint32_t> table_;
};

// Far repeats at the positions a parser visits: the table at anchors, and
// at every position the distance of the last long one found. A file
// shipped twice often has stretches that also occur elsewhere (padding,
// repeated records), where an anchor leads to another source; once its true
// distance is known, the copy is followed across them.
class FarRepeats {
 public:
  FarRepeats(const LongRangeTable* table, const unsigned char* data, uint32_t size)
      : table_(table), data_(data), cursor_(data, size, table ? table->AnchorBits() : kAnchorBits) {}
  Candidate At(uint32_t pos, uint32_t limit) {
    if (!table_) return {0, 0};
    Candidate best{0, 0};
    if (last_ != 0 && last_ <= pos && limit >= kLongSpan && Load32(data_ + pos - last_) == Load32(data_ + pos)) {
      uint32_t len = CommonLength(data_ + pos - last_, data_ + pos, 4, std::min(limit, last_));
      if (len >= kLongSpan) best = {len, last_};
    }
    uint64_t hash;
    if (cursor_.IsAnchor(pos, hash)) {
      Candidate c = table_->Find(pos, hash, limit);
      if (c.length > best.length) best = c;
      if (c.length >= 2 * kLongSpan) last_ = c.distance;
    }
    return best;
  }

 private:
  const LongRangeTable* table_;
  const unsigned char* data_;
  AnchorCursor cursor_;
  uint32_t last_ = 0;
};

// The smallest power of two of at least n, at most 2^bits.
uint32_t WindowFor(uint64_t n, uint32_t bits) {
  uint32_t w = 1u << 12;
  while (w < n && w < (1u << bits)) w <<= 1;
  return w;
}

// ---------------------------------------------------------------- fast level

constexpr uint32_t kFastWays = 8;       // candidates examined per position
constexpr uint32_t kFastBucketBits = 19;  // at most 2^19 buckets (32 MiB)
constexpr uint32_t kFastHistory = 1u << 18;  // history entered before a segment
constexpr uint32_t kFastNice = 48;       // a match this long ends the search
constexpr uint32_t kFastInsertAll = 64;  // matches up to this long insert every position
constexpr uint32_t kFastSkipShift = 6;   // search step grows by one per 64 misses

struct FastChoice {
  int32_t gain = 0;
  uint32_t length = 0;
  uint32_t distance = 0;  // 0: byte run
};

// Hash buckets of the newest positions of each hash (one cache line a
// search, the same candidates as a hash chain of that depth); parses
// [start, end) of data after entering [first, start) as history.
class FastParser {
 public:
  FastParser(const unsigned char* data, uint32_t first, uint32_t end, const LongRangeTable* longRange)
      : data_(data), end_(end), bits_(std::min(HashBitsFor(end - first), kFastBucketBits)),
        buckets_(size_t{2 * kFastWays} << bits_, kNil, true), far_(longRange, data, end) {}

  template <class Sink>
  void Parse(Sink& sink, uint32_t first, uint32_t start) {
    for (uint32_t p = first; p < start; ++p) Insert(p);
    uint32_t i = start;
    uint32_t misses = 0;  // positions searched in vain since the last match
    FastChoice cur = Best(i);
    while (i < end_) {
      if (cur.gain <= 0) {
        // Data that keeps failing to match (already compressed images and
        // fonts) is searched ever more sparsely, up to every 8th position.
        uint32_t step = std::min<uint32_t>({1 + (misses >> kFastSkipShift), 8, end_ - i});
        ++misses;
        sink.Literals(i, step);
        Insert(i);
        i += step;
        cur = Best(i);
        continue;
      }
      misses = 0;
      if (cur.length < kFastNice && i + 1 < end_) {
        Insert(i);
        FastChoice next = Best(i + 1);
        // One literal costs 8 bits and a share of a run header.
        if (next.gain > cur.gain + 9) {
          sink.Literals(i, 1);
          ++i;
          cur = next;
          continue;
        }
        Emit(sink, cur, i);
        InsertRange(i + 1, i + cur.length, cur.length);
      } else {
        Emit(sink, cur, i);
        InsertRange(i, i + cur.length, cur.length);
      }
      i += cur.length;
      cur = Best(i);
    }
    sink.Flush();
  }

 private:
  template <class Sink>
  void Emit(Sink& sink, const FastChoice& c, uint32_t i) {
    if (c.distance == 0)
      sink.Run(data_[i], c.length);
    else
      sink.Match(c.length, c.distance);
  }

  // Prefetches the bucket of pos, whose hash reads the four bytes there
  // (none when fewer remain).
  void Prefetch(uint32_t pos) {
    if (end_ - pos >= 4) PrefetchLine(&buckets_[size_t{Hash4(data_ + pos, bits_)} * 2 * kFastWays]);
  }

  // A bucket (one cache line) holds the newest kFastWays positions of its
  // hash, newest first, then their first four bytes, so a candidate that
  // only shares the hash is passed over without reading its bytes.
  void Insert(uint32_t pos) {
    if (end_ - pos < 4) return;
    uint32_t value = Load32(data_ + pos);
    uint32_t* bucket = &buckets_[size_t{Hash4(data_ + pos, bits_)} * 2 * kFastWays];
    uint32_t old[2 * kFastWays];
    memcpy(old, bucket, sizeof(old));
    memcpy(bucket + 1, old, (kFastWays - 1) * sizeof(uint32_t));
    memcpy(bucket + kFastWays + 1, old + kFastWays, (kFastWays - 1) * sizeof(uint32_t));
    bucket[0] = pos;
    bucket[kFastWays] = value;
  }

  // Inserts [from, to); long matches insert only their first and last bytes,
  // which keeps highly repetitive input fast at a small cost in matches.
  void InsertRange(uint32_t from, uint32_t to, uint32_t length) {
    if (length <= kFastInsertAll) {
      for (uint32_t p = from; p < to; ++p) {
        if (p + 8 < to) Prefetch(p + 8);
        Insert(p);
      }
      return;
    }
    for (uint32_t p = from; p < from + 16 && p < to; ++p) Insert(p);
    for (uint32_t p = to > 16 ? std::max(from, to - 16) : from; p < to; ++p) Insert(p);
  }

  FastChoice Best(uint32_t pos) {
    FastChoice best;
    if (pos >= end_) return best;
    uint32_t limit = end_ - pos;
    uint32_t run = RunLength(data_, pos, end_);
    if (run >= kMinRunCount) {
      best.gain = RunGain(run);
      best.length = run;
      best.distance = 0;
    }
    if (limit < kMinMatchLength || run >= kFastNice) return best;
    const unsigned char* cur = data_ + pos;
    uint32_t bestLen = std::max<uint32_t>(kMinMatchLength - 1, run > kMinMatchLength ? run : 0);
    const uint32_t value = Load32(cur);
    const uint32_t* bucket = &buckets_[size_t{Hash4(cur, bits_)} * 2 * kFastWays];
    Prefetch(pos + 1);  // the next search's bucket, while this one runs
    for (uint32_t way = 0; way < kFastWays; ++way) {
      uint32_t cand = bucket[way];
      if (cand == kNil) break;
      if (bucket[kFastWays + way] != value) continue;
      uint32_t distance = pos - cand;
      const unsigned char* p = data_ + cand;
      if (limit <= bestLen || p[bestLen] != cur[bestLen]) continue;
      uint32_t len = CommonLength(p, cur, 4, limit);
      if (len > distance) {
        Candidate c = PeriodicMatch(data_, pos, distance, len);
        len = c.length;
        distance = c.distance;
      }
      if (len <= bestLen) continue;
      int32_t gain = MatchGain(len, distance) - FarPenalty(distance);
      if (gain > best.gain) {
        best.gain = gain;
        best.length = len;
        best.distance = distance;
        bestLen = len;
        if (len >= kFastNice) break;
      }
    }
    if (bestLen < kLongSpan) {
      Candidate c = far_.At(pos, limit);
      if (c.length > bestLen) {
        int32_t gain = MatchGain(c.length, c.distance) - FarPenalty(c.distance);
        if (gain > best.gain) {
          best.gain = gain;
          best.length = c.length;
          best.distance = c.distance;
        }
      }
    }
    return best;
  }

  const unsigned char* data_;
  uint32_t end_;
  uint32_t bits_;
  LinkTable buckets_;
  FarRepeats far_;
};

// ---------------------------------------------------------------- best level

constexpr uint32_t kBestWindowBits = 23; // the tree reaches 8 MiB back
constexpr uint32_t kBestNice = 128;      // the tree search stops, and a code this long is taken, at this length
constexpr uint32_t kBestDepth = 48;      // tree nodes visited per position
constexpr uint32_t kSparseAfter = 1024;  // positions without a gainful match before the search thins out
constexpr uint32_t kSparseStep = 16;     // then every 16th position is searched
constexpr uint32_t kCoveredInsert = 16;  // positions of a long code entered into the tree at each end
constexpr uint32_t kChunk = 1u << 16;    // positions per shortest-path window
constexpr uint32_t kLiteralClasses = 8;  // literal header classes: n <= 4^(k+1)

// Binary-tree match finder over a cyclic window: per hash bucket a binary
// search tree of the suffixes that start there, newest at the root and every
// node newer than the nodes below it, so a walk stops at the first node that
// has left the window. Each search also re-roots the tree at the new
// position. Positions never entered are never reached.
class TreeFinder {
 public:
  TreeFinder(const unsigned char* data, uint32_t end, uint32_t window)
      : data_(data), end_(end), window_(window), bits_(HashBitsFor(window)), head_(size_t{1} << bits_, kNil, true),
        son_(size_t{2} * window, 0, false) {}

  // Inserts pos; appends to out the matches of increasing length found on the
  // way (distance pos - candidate) and returns their number.
  uint32_t Find(uint32_t pos, Candidate* out) { return Walk<true>(pos, out); }
  void Skip(uint32_t pos) { Walk<false>(pos, nullptr); }

  // Hides the memory latency of a walk to come: the bucket of a position
  // some way ahead, and the root node (bytes and links) of a nearer one.
  void Prefetch(uint32_t far, uint32_t near) {
    if (end_ - far >= kMinMatchLength) PrefetchLine(&head_[Hash4(data_ + far, bits_)]);
    if (end_ - near >= kMinMatchLength) {
      uint32_t node = head_[Hash4(data_ + near, bits_)];
      if (node != kNil && near - node < window_) {
        PrefetchLine(data_ + node);
        PrefetchLine(&son_[2 * size_t{node & (window_ - 1)}]);
      }
    }
  }

 private:
  template <bool kRecord>
  uint32_t Walk(uint32_t pos, Candidate* out) {
    uint32_t limit = std::min(kBestNice, end_ - pos);
    if (limit < kMinMatchLength) return 0;
    const unsigned char* cur = data_ + pos;
    uint32_t h = Hash4(cur, bits_);
    uint32_t node = head_[h];
    head_[h] = pos;
    const uint32_t mask = window_ - 1;
    uint32_t* ptr0 = &son_[2 * size_t{pos & mask} + 1];
    uint32_t* ptr1 = &son_[2 * size_t{pos & mask}];
    uint32_t len0 = 0, len1 = 0, maxLen = kMinMatchLength - 1, found = 0;
    for (uint32_t depth = kBestDepth;; --depth) {
      if (node == kNil || pos - node >= window_ || depth == 0) {
        *ptr0 = *ptr1 = kNil;
        break;
      }
      const unsigned char* pb = data_ + node;
      uint32_t len = CommonLength(pb, cur, std::min(len0, len1), limit);
      uint32_t* pair = &son_[2 * size_t{node & mask}];
      if (len > maxLen) {
        maxLen = len;
        if (kRecord) out[found++] = {len, pos - node};
        if (len == limit) {
          *ptr1 = pair[0];
          *ptr0 = pair[1];
          break;
        }
      } else if (len == limit) {
        *ptr1 = pair[0];
        *ptr0 = pair[1];
        break;
      }
      if (pb[len] < cur[len]) {
        *ptr1 = node;
        ptr1 = pair + 1;
        node = *ptr1;
        len1 = len;
      } else {
        *ptr0 = node;
        ptr0 = pair;
        node = *ptr0;
        len0 = len;
      }
    }
    return found;
  }

  const unsigned char* data_;
  uint32_t end_;
  uint32_t window_;
  uint32_t bits_;
  LinkTable head_;
  LinkTable son_;
};

enum class Step : uint8_t { kLiteral, kMatch, kRun };

// Shortest-path parse of [start, end) of data, after entering [first, start)
// into the match finder as history; back-references may reach anywhere
// before the position they are at.
class BestParser {
 public:
  BestParser(const unsigned char* data, uint32_t first, uint32_t end, const LongRangeTable* longRange)
      : data_(data), end_(end), finder_(data, end, WindowFor(end - first, kBestWindowBits)),
        far_(longRange, data, end) {
    for (uint32_t len = 0; len < kLengthBits; ++len)
      lengthBits_[len] = len < kMinMatchLength ? 0 : VarNumBits(kMatchLength, len - kMinMatchLength);
    price_.resize(kChunk + 1);
    from_.resize(kChunk + 1);
    distance_.resize(kChunk + 1);
    step_.resize(kChunk + 1);
    queue_.resize(kChunk + 1);
    candStart_.resize(kChunk + 1);
    run_.resize(kChunk);
  }

  template <class Sink>
  void Parse(Sink& sink, uint32_t first, uint32_t start) {
    for (uint32_t p = first; p < start; ++p) finder_.Skip(p);
    uint32_t pos = start;
    while (pos < end_) {
      uint32_t end = std::min<uint64_t>(end_, uint64_t{pos} + kChunk);
      Candidate forced{0, 0};
      bool forcedRun = false;
      uint32_t stop = Collect(pos, end, forced, forcedRun);
      Solve(pos, stop, sink);
      if (forced.length == 0) {
        pos = stop;
        continue;
      }
      if (forcedRun)
        sink.Run(data_[stop], forced.length);
      else
        sink.Match(forced.length, forced.distance);
      SkipCovered(stop + 1, stop + forced.length);
      pos = stop + forced.length;
    }
    sink.Flush();
  }

 private:
  static constexpr uint32_t kLengthBits = kBestNice + 1;

  // Enters the positions a long code covers into the finder: all of a short
  // one, the ends of a long one. Its middle is a copy of bytes the finder or
  // the long-range table already reaches, so leaving it out costs little and
  // saves a tree walk per byte of every repeated file and run.
  void SkipCovered(uint32_t from, uint32_t to) {
    const uint32_t ends = kCoveredInsert;
    if (to - from <= 2 * ends) {
      for (uint32_t p = from; p < to; ++p) finder_.Skip(p);
      return;
    }
    for (uint32_t p = from; p < from + ends; ++p) finder_.Skip(p);
    for (uint32_t p = to - ends; p < to; ++p) finder_.Skip(p);
  }

  // Runs the match finder over [pos, end) and keeps, per position, the
  // usable back-references (L <= D, D >= 4) with the nearest distance for
  // each length. Stops early at a position that starts a byte run or a
  // back-reference of at least kBestNice bytes: the return value is that
  // position, and forced describes the long code to take there.
  //
  // Stretches where nothing gainful turns up for a while (already compressed
  // media) are searched only at every bestSparseStep-th position, and not
  // entered into the tree in between, until a search or a far repeat finds
  // a gainful match again.
  uint32_t Collect(uint32_t pos, uint32_t end, Candidate& forced, bool& forcedRun) {
    cands_.clear();
    Candidate raw[kBestDepth + 8];
    for (uint32_t t = pos; t < end; ++t) {
      uint32_t i = t - pos;
      candStart_[i] = static_cast<uint32_t>(cands_.size());
      uint32_t run = (i > 0 && run_[i - 1] > 1) ? run_[i - 1] - 1 : RunLength(data_, t, end_);
      run_[i] = run;
      if (run >= kBestNice) {
        forced = {run, 0};
        forcedRun = true;
        finder_.Skip(t);
        candStart_[i + 1] = static_cast<uint32_t>(cands_.size());
        misses_ = 0;
        return t;
      }
      uint32_t n = 0;
      bool search = misses_ < kSparseAfter || (misses_ - kSparseAfter) % kSparseStep == 0;
      if (search) {
        if (t + 8 < end_) finder_.Prefetch(t + 8, t + 3);
        n = finder_.Find(t, raw);
      }
      if (n > 0 && raw[n - 1].length > raw[n - 1].distance) {
        // Periodic bytes: the tree stops at the nearest period; look for the
        // longer legal copy a multiple of it allows.
        uint32_t d = raw[n - 1].distance;
        uint32_t ahead = CommonLength(data_ + t - d, data_ + t, raw[n - 1].length, end_ - t);
        Candidate c = PeriodicMatch(data_, t, d, ahead);
        if (c.length >= kMinMatchLength) raw[n++] = c;
      }
      if (n == 0 || raw[n - 1].length < kBestNice) {
        // Beyond the finder's reach: a repeat from anywhere before.
        Candidate c = far_.At(t, end_ - t);
        if (c.length > 0) raw[n++] = c;
      }
      if (n > 0 && std::min(raw[n - 1].length, raw[n - 1].distance) >= kBestNice) {
        uint32_t d = raw[n - 1].distance;
        uint32_t ahead = CommonLength(data_ + t - d, data_ + t, raw[n - 1].length, end_ - t);
        forced = ahead > d ? PeriodicMatch(data_, t, d, ahead) : Candidate{ahead, d};
        forcedRun = false;
        candStart_[i + 1] = static_cast<uint32_t>(cands_.size());
        misses_ = 0;
        return t;
      }
      bool gainful = run >= kMinRunCount + 2;
      for (uint32_t j = 0; j < n && !gainful; ++j)
        gainful = raw[j].distance >= kMinMatchDistance && std::min(raw[j].length, raw[j].distance) >= kMinMatchLength &&
                  MatchGain(std::min(raw[j].length, raw[j].distance), raw[j].distance) > 8;
      misses_ = gainful ? 0 : misses_ + 1;
      AddUsable(raw, n);
    }
    candStart_[end - pos] = static_cast<uint32_t>(cands_.size());
    return end;
  }

  // Appends the usable matches as a list of increasing length and strictly
  // increasing distance: lengths up to list[j].length use list[j].distance.
  void AddUsable(Candidate* raw, uint32_t n) {
    uint32_t m = 0;
    for (uint32_t j = 0; j < n; ++j) {
      if (raw[j].distance < kMinMatchDistance) continue;
      uint32_t len = std::min(raw[j].length, raw[j].distance);
      if (len < kMinMatchLength) continue;
      raw[m++] = {len, raw[j].distance};
    }
    std::sort(raw, raw + m, [](const Candidate& a, const Candidate& b) {
      return a.length != b.length ? a.length > b.length : a.distance < b.distance;
    });
    // raw is now longest first; keep an entry only when it is nearer than
    // every longer one.
    size_t first = cands_.size();
    uint32_t nearest = kNil;
    for (uint32_t j = 0; j < m; ++j) {
      if (raw[j].distance >= nearest) continue;
      nearest = raw[j].distance;
      cands_.push_back(raw[j]);
    }
    std::reverse(cands_.begin() + static_cast<std::ptrdiff_t>(first), cands_.end());
  }

  // Shortest path in bits over positions [pos, stop): every edge is one code
  // priced exactly. Literal runs are priced through the header classes: the
  // best run ending at t with header class k starts at the j in
  // [t - 4^(k+1), t) with the least price[j] - 8j, found in a monotonic queue.
  template <class Sink>
  void Solve(uint32_t pos, uint32_t stop, Sink& sink) {
    const uint32_t n = stop - pos;
    if (n == 0) return;
    const int32_t kInf = 0x7FFFFFFF;
    for (uint32_t t = 0; t <= n; ++t) price_[t] = kInf;
    price_[0] = 0;
    uint32_t qsize = 0;
    uint32_t head[kLiteralClasses] = {};
    for (uint32_t t = 0; t <= n; ++t) {
      if (t > 0) {
        int64_t best = kInf;
        uint32_t bestFrom = 0;
        for (uint32_t k = 0; k < kLiteralClasses; ++k) {
          uint64_t window = uint64_t{1} << (2 * (k + 1));
          uint64_t lo = t > window ? t - window : 0;
          while (queue_[head[k]] < lo) ++head[k];
          uint32_t j = queue_[head[k]];
          int64_t c = int64_t{price_[j]} + 8 * int64_t{t - j} + 4 + 3 * k;
          if (c < best) {
            best = c;
            bestFrom = j;
          }
          if (window >= t) break;  // wider classes see the same positions
        }
        if (best < price_[t]) {
          price_[t] = static_cast<int32_t>(best);
          from_[t] = bestFrom;
          step_[t] = Step::kLiteral;
        }
      }
      // Queue of positions with increasing price - 8 * position.
      int64_t a = int64_t{price_[t]} - 8 * int64_t{t};
      while (qsize > 0 && int64_t{price_[queue_[qsize - 1]]} - 8 * int64_t{queue_[qsize - 1]} >= a) --qsize;
      queue_[qsize++] = t;
      for (uint32_t k = 0; k < kLiteralClasses; ++k) head[k] = std::min(head[k], qsize - 1);
      if (t == n) break;

      const int32_t here = price_[t];
      const uint32_t room = n - t;
      uint32_t run = std::min(run_[t], room);
      for (uint32_t c = kMinRunCount; c <= run; ++c) Relax(t, t + c, here + ByteRunBits(c), Step::kRun, 0);
      uint32_t prevLen = kMinMatchLength - 1;
      for (uint32_t j = candStart_[t]; j < candStart_[t + 1] && prevLen < room; ++j) {
        const Candidate& c = cands_[j];
        int32_t base =
            here + static_cast<int32_t>(kMatchSelectorBits + VarNumBits(kMatchDistance, c.distance - kMinMatchDistance));
        uint32_t top = std::min(c.length, room);
        for (uint32_t len = prevLen + 1; len <= top; ++len)
          Relax(t, t + len, base + static_cast<int32_t>(lengthBits_[len]), Step::kMatch, c.distance);
        prevLen = top;
      }
    }
    // Walk back from the end, then emit in order.
    path_.clear();
    for (uint32_t t = n; t > 0; t = from_[t]) path_.push_back(t);
    uint32_t at = 0;
    for (size_t j = path_.size(); j-- > 0;) {
      uint32_t to = path_[j];
      switch (step_[to]) {
        case Step::kLiteral: sink.Literals(pos + at, to - at); break;
        case Step::kMatch: sink.Match(to - at, distance_[to]); break;
        case Step::kRun: sink.Run(data_[pos + at], to - at); break;
      }
      at = to;
    }
  }

  inline void Relax(uint32_t from, uint32_t to, int32_t cost, Step step, uint32_t distance) {
    if (cost < price_[to]) {
      price_[to] = cost;
      from_[to] = from;
      step_[to] = step;
      distance_[to] = distance;
    }
  }

  const unsigned char* data_;
  uint32_t end_;
  TreeFinder finder_;
  FarRepeats far_;
  uint32_t misses_ = 0;  // positions since the last gainful match
  uint32_t lengthBits_[kLengthBits];
  std::vector<int32_t> price_;
  std::vector<uint32_t> from_;
  std::vector<uint32_t> distance_;
  std::vector<Step> step_;
  std::vector<uint32_t> queue_;
  std::vector<uint32_t> candStart_;
  std::vector<uint32_t> run_;
  std::vector<Candidate> cands_;
  std::vector<uint32_t> path_;
};

// ---------------------------------------------------------------- segments

// A large input is parsed in segments of a fixed size, each with the bytes
// before it as history entered into its finder; back-references reach
// anywhere before them. Segments are independent, so they run on several
// threads, and a finder's memory is bounded by its window, not by the input.
// The cut is made by size alone, never by the thread count, so every thread
// count gives the same block.
constexpr uint32_t kSegment = 32u << 20;
constexpr uint32_t kHistory = 8u << 20;

// The bit stream of one segment, made on a worker thread and appended to
// the block in order. A segment's parse ends with its pending literals
// written, so a segment's bits do not depend on the ones before it.
struct SegmentBits {
  std::vector<unsigned char> bytes;
  uint64_t bits = 0;
};

struct SegmentPlan {
  PackLevel level;
  uint32_t segment;
  uint32_t history;
};

template <class Sink>
void ParseSegment(const unsigned char* data, uint32_t start, uint32_t end, const SegmentPlan& plan,
                  const LongRangeTable* longRange, Sink& out) {
  uint32_t first = start > plan.history ? start - plan.history : 0;
  if (plan.level == PackLevel::kFast) {
    // The chains reach no further than their window: older history is not needed.
    first = start - first > kFastHistory ? start - kFastHistory : first;
    FastParser(data, first, end, longRange).Parse(out, first, start);
  } else {
    BestParser(data, first, end, longRange).Parse(out, first, start);
  }
}

// Parses the segments on `threads` threads and writes their codes in order.
// A thread starts a segment only while fewer than threads + 1 finished ones
// wait to be written, which bounds the codes held.
void PackInSegments(const unsigned char* data, uint32_t size, const SegmentPlan& plan, unsigned threads,
                    BitWriter& out, const PackProgress& progress) {
  const uint64_t segment = plan.segment == 0 ? std::max<uint32_t>(size, 1) : plan.segment;
  const uint32_t count = static_cast<uint32_t>((uint64_t{size} + segment - 1) / segment);
  auto bounds = [&](uint32_t k, uint32_t& start, uint32_t& end) {
    start = static_cast<uint32_t>(k * segment);
    end = static_cast<uint32_t>(std::min<uint64_t>(size, (k + 1) * segment));
  };
  // Repeats from beyond the finders' reach exist only when the input is
  // larger than it or cut in segments.
  uint32_t reach = plan.level == PackLevel::kFast ? kFastHistory : 1u << kBestWindowBits;
  std::unique_ptr<LongRangeTable> longRange;
  if (size > reach || count > 1) longRange = std::make_unique<LongRangeTable>(
        data, size, plan.level == PackLevel::kFast ? kFastAnchorBits : kAnchorBits, threads);
  threads = std::max(1u, std::min<unsigned>(threads, count));
  if (count <= 1 || threads == 1) {
    CodeSink sink(data, out);
    for (uint32_t k = 0; k < count; ++k) {
      uint32_t start, end;
      bounds(k, start, end);
      ParseSegment(data, start, end, plan, longRange.get(), sink);
      if (progress) progress(end, size);
    }
    sink.Flush();
    return;
  }
  std::vector<std::unique_ptr<SegmentBits>> done(count);
  std::mutex lock;
  std::condition_variable changed;
  uint32_t next = 0, written = 0;
  auto work = [&] {
    for (;;) {
      uint32_t k;
      {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return next >= count || next < written + threads + 1; });
        if (next >= count) return;
        k = next++;
      }
      auto codes = std::make_unique<SegmentBits>();
      uint32_t start, end;
      bounds(k, start, end);
      codes->bytes.reserve(end - start + (end - start) / 8 + 16);
      BitWriter writer(codes->bytes);
      CodeSink segmentSink(data, writer);
      ParseSegment(data, start, end, plan, longRange.get(), segmentSink);
      codes->bits = writer.Written();
      writer.Finish();
      {
        std::lock_guard<std::mutex> hold(lock);
        done[k] = std::move(codes);
      }
      changed.notify_all();
    }
  };
  std::vector<std::thread> workers;
  for (unsigned i = 0; i < threads; ++i) workers.emplace_back(work);
  for (uint32_t k = 0; k < count; ++k) {
    std::unique_ptr<SegmentBits> codes;
    {
      std::unique_lock<std::mutex> hold(lock);
      changed.wait(hold, [&] { return done[k] != nullptr; });
      codes = std::move(done[k]);
    }
    out.Append(codes->bytes.data(), codes->bits);
    codes.reset();
    {
      std::lock_guard<std::mutex> hold(lock);
      ++written;
    }
    changed.notify_all();
    uint32_t start, end;
    bounds(k, start, end);
    if (progress) progress(end, size);
  }
  for (std::thread& t : workers) t.join();
}

}  // namespace

unsigned DefaultPackThreads() {
  unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : std::min(n, 64u);
}

bool PackBlock(const unsigned char* data, size_t size, PackLevel level, std::vector<unsigned char>& block,
               std::string& error, unsigned threads, const PackProgress& progress) {
  return PackBlockWithSegments(data, size, level, kSegment, kHistory, threads, block, error, progress);
}

bool PackBlockWithSegments(const unsigned char* data, size_t size, PackLevel level, uint32_t segment,
                           uint32_t history, unsigned threads, std::vector<unsigned char>& block, std::string& error,
                           const PackProgress& progress) {
  if (size > static_cast<size_t>(kMaxBlockOutput)) {
    error = "input too large for one block (" + std::to_string(size) + " bytes; at most " +
            std::to_string(kMaxBlockOutput) + ")";
    return false;
  }
  block.clear();
  block.reserve(size + size / 8 + 16);
  for (int i = 0; i < 4; ++i) block.push_back(static_cast<unsigned char>(kBlockMagic >> (8 * i)));
  for (int i = 0; i < 4; ++i) block.push_back(static_cast<unsigned char>(size >> (8 * i)));
  BitWriter writer(block);
  PackInSegments(data, static_cast<uint32_t>(size), SegmentPlan{level, segment, history}, threads, writer, progress);
  writer.Finish();
  return true;
}

size_t PackWorkingMemory(size_t size, PackLevel level, unsigned threads) {
  const uint64_t segment = std::min<uint64_t>(size, kSegment);
  const uint64_t count = size == 0 ? 0 : (size + kSegment - 1) / kSegment;
  threads = static_cast<unsigned>(std::max<uint64_t>(1, std::min<uint64_t>(threads, count)));
  const uint64_t span = std::min<uint64_t>(size, uint64_t{kSegment} + kHistory);
  size_t perThread;
  if (level == PackLevel::kFast) {
    perThread = (size_t{2 * kFastWays} << std::min(HashBitsFor(span), kFastBucketBits)) * sizeof(uint32_t);
  } else {
    // Tree (two links per window position), hash heads, and the
    // shortest-path window's arrays: price, from, distance, queue, candidate
    // index and run (4 bytes each), step, and the candidates (usually a few
    // per position).
    uint32_t window = WindowFor(span, kBestWindowBits);
    perThread = size_t{2} * window * sizeof(uint32_t) + (size_t{1} << HashBitsFor(window)) * sizeof(uint32_t) +
                size_t{kChunk + 1} * (6 * 4 + 1) + size_t{kChunk} * 4 * sizeof(Candidate);
  }
  // The bit streams of the segments parsed ahead of the writer (at most
  // 9/8 of the segment each), and the long-range table.
  size_t codes = count > 1 ? size_t{threads + 1} * (segment + segment / 8) : 0;
  size_t table = 0;
  if (count > 1 || size > (level == PackLevel::kFast ? kFastHistory : size_t{1} << kBestWindowBits)) {
    uint32_t bits = 8;
    uint32_t anchorBits = level == PackLevel::kFast ? kFastAnchorBits : kAnchorBits;
    while (bits < 22 && (uint64_t{4} << bits) < (uint64_t{size} >> (anchorBits - 1))) ++bits;
    table = (size_t{4} << bits) * sizeof(uint32_t);
  }
  return threads * perThread + codes + table;
}
