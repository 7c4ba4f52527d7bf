#include "tools/truxpack/encoder.h"

#include <string.h>

#include <algorithm>
#include <memory>
#include <thread>
#if defined(__linux__)
#include <stdlib.h>
#include <sys/mman.h>
#endif

#include "archive/block_format.h"

namespace {

constexpr uint32_t kNil = 0xFFFFFFFFu;

// A fixed-size table of match-finder links. The finders reach anywhere in
// tens of megabytes at random, so on Linux the tables ask for huge pages,
// which removes most TLB misses.
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
    if (!data_) data_.reset(static_cast<uint32_t*>(malloc(bytes)));
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
  }
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

// ---------------------------------------------------------------- fast level

constexpr uint32_t kFastChain = 8;      // candidates examined per position
constexpr uint32_t kFastNice = 48;       // a match this long ends the search
constexpr uint32_t kFastInsertAll = 64;  // matches up to this long insert every position
constexpr uint32_t kFastSkipShift = 6;   // search step grows by one per 64 misses

struct FastChoice {
  int32_t gain = 0;
  uint32_t length = 0;
  uint32_t distance = 0;  // 0: byte run
};

class FastParser {
 public:
  FastParser(const unsigned char* data, uint32_t size)
      : data_(data), size_(size), bits_(HashBitsFor(size)), head_(size_t{1} << bits_, kNil, true),
        prev_(size, 0, false) {}

  void Parse(CodeSink& sink) {
    uint32_t i = 0;
    uint32_t misses = 0;  // positions searched in vain since the last match
    FastChoice cur = Best(i);
    while (i < size_) {
      if (cur.gain <= 0) {
        // Data that keeps failing to match (already compressed images and
        // fonts) is searched ever more sparsely, up to every 8th position.
        uint32_t step = std::min<uint32_t>({1 + (misses >> kFastSkipShift), 8, size_ - i});
        ++misses;
        sink.Literals(i, step);
        Insert(i);
        i += step;
        cur = Best(i);
        continue;
      }
      misses = 0;
      if (cur.length < kFastNice && i + 1 < size_) {
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
  void Emit(CodeSink& sink, const FastChoice& c, uint32_t i) {
    if (c.distance == 0)
      sink.Run(data_[i], c.length);
    else
      sink.Match(c.length, c.distance);
  }

  void Insert(uint32_t pos) {
    if (size_ - pos < 4) return;
    uint32_t h = Hash4(data_ + pos, bits_);
    prev_[pos] = head_[h];
    head_[h] = pos;
  }

  // Inserts [from, to); long matches insert only their first and last bytes,
  // which keeps highly repetitive input fast at a small cost in matches.
  void InsertRange(uint32_t from, uint32_t to, uint32_t length) {
    if (length <= kFastInsertAll) {
      for (uint32_t p = from; p < to; ++p) Insert(p);
      return;
    }
    for (uint32_t p = from; p < from + 16 && p < to; ++p) Insert(p);
    for (uint32_t p = to > 16 ? std::max(from, to - 16) : from; p < to; ++p) Insert(p);
  }

  FastChoice Best(uint32_t pos) {
    FastChoice best;
    if (pos >= size_) return best;
    uint32_t limit = size_ - pos;
    uint32_t run = RunLength(data_, pos, size_);
    if (run >= kMinRunCount) {
      best.gain = RunGain(run);
      best.length = run;
      best.distance = 0;
    }
    if (limit < kMinMatchLength || run >= kFastNice) return best;
    const unsigned char* cur = data_ + pos;
    uint32_t bestLen = std::max<uint32_t>(kMinMatchLength - 1, run > kMinMatchLength ? run : 0);
    uint32_t cand = head_[Hash4(cur, bits_)];
    for (uint32_t depth = kFastChain; cand != kNil && depth > 0; --depth, cand = prev_[cand]) {
      uint32_t distance = pos - cand;
      const unsigned char* p = data_ + cand;
      if (limit <= bestLen || p[bestLen] != cur[bestLen] || Load32(p) != Load32(cur)) continue;
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
    return best;
  }

  const unsigned char* data_;
  uint32_t size_;
  uint32_t bits_;
  LinkTable head_;
  LinkTable prev_;
};

// ---------------------------------------------------------------- best level

constexpr uint32_t kBestNice = 128;      // the tree search stops at this length
constexpr uint32_t kBestDepth = 48;      // tree nodes visited per position
constexpr uint32_t kChunk = 1u << 16;    // positions per shortest-path window
constexpr uint32_t kLiteralClasses = 8;  // literal header classes: n <= 4^(k+1)

// Binary-tree match finder over the whole input (distances up to the input
// size): per hash bucket a binary search tree of the suffixes that start
// there, newest at the root. Each search also re-roots the tree at the new
// position.
class TreeFinder {
 public:
  TreeFinder(const unsigned char* data, uint32_t size)
      : data_(data), size_(size), bits_(HashBitsFor(size)), head_(size_t{1} << bits_, kNil, true),
        son_(size_t{2} * size, 0, false) {}

  // Inserts pos; appends to out the matches of increasing length found on the
  // way (distance pos - candidate) and returns their number.
  uint32_t Find(uint32_t pos, Candidate* out) { return Walk<true>(pos, out); }
  void Skip(uint32_t pos) { Walk<false>(pos, nullptr); }

 private:
  template <bool kRecord>
  uint32_t Walk(uint32_t pos, Candidate* out) {
    uint32_t limit = std::min(kBestNice, size_ - pos);
    if (limit < kMinMatchLength) return 0;
    const unsigned char* cur = data_ + pos;
    uint32_t h = Hash4(cur, bits_);
    uint32_t node = head_[h];
    head_[h] = pos;
    uint32_t* ptr0 = &son_[2 * size_t{pos} + 1];
    uint32_t* ptr1 = &son_[2 * size_t{pos}];
    uint32_t len0 = 0, len1 = 0, maxLen = kMinMatchLength - 1, found = 0;
    for (uint32_t depth = kBestDepth;; --depth) {
      if (node == kNil || depth == 0) {
        *ptr0 = *ptr1 = kNil;
        break;
      }
      const unsigned char* pb = data_ + node;
      uint32_t len = CommonLength(pb, cur, std::min(len0, len1), limit);
      uint32_t* pair = &son_[2 * size_t{node}];
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
  uint32_t size_;
  uint32_t bits_;
  LinkTable head_;
  LinkTable son_;
};

enum class Step : uint8_t { kLiteral, kMatch, kRun };

// Repeats farther back than a segment's history (a file shipped twice in
// different folders) are found through one table over the whole input: the
// first position of every kLongStep-aligned kLongSpan-byte string, keyed by
// its hash. A repeat of at least kLongSpan + kLongStep bytes is always met
// within kLongStep bytes of its start. The table is built before the parse
// and only read by it, so every segment and thread sees the same one.
constexpr uint32_t kLongSpan = 32;
constexpr uint32_t kLongStep = 16;

inline uint64_t LongHash(const unsigned char* p) {
  uint64_t h = Load64(p) * 0x9E3779B97F4A7C15ull;
  h = (h ^ Load64(p + 8)) * 0xC2B2AE3D27D4EB4Full;
  h = (h ^ Load64(p + 16)) * 0x165667B19E3779F9ull;
  h = (h ^ Load64(p + 24)) * 0x9E3779B97F4A7C15ull;
  return h ^ (h >> 29);
}

class LongRangeTable {
 public:
  LongRangeTable(const unsigned char* data, uint32_t size) : data_(data), size_(size) {
    uint32_t slots = 1;
    while (slots < size / kLongStep && slots < (1u << 26)) slots <<= 1;
    mask_ = slots - 1;
    table_.assign(slots, kNil);
    for (uint32_t p = 0; size >= kLongSpan && p <= size - kLongSpan; p += kLongStep) {
      uint32_t& slot = table_[LongHash(data + p) & mask_];
      if (slot == kNil) slot = p;
    }
  }
  // The earliest known position whose kLongSpan bytes equal those at pos
  // and that lies at least kLongSpan before it, or kNil.
  uint32_t Find(uint32_t pos) const {
    if (pos + kLongSpan > size_) return kNil;
    uint32_t q = table_[LongHash(data_ + pos) & mask_];
    if (q == kNil || q + kLongSpan > pos || memcmp(data_ + q, data_ + pos, kLongSpan) != 0) return kNil;
    return q;
  }

 private:
  const unsigned char* data_;
  uint32_t size_;
  uint32_t mask_ = 0;
  std::vector<uint32_t> table_;
};

class BestParser {
 public:
  // longRange, when given, indexes the whole input, of which data is the
  // part from absolute position base on.
  BestParser(const unsigned char* data, uint32_t size, const LongRangeTable* longRange = nullptr, uint32_t base = 0)
      : data_(data), size_(size), finder_(data, size), longRange_(longRange), base_(base) {
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

  // Parses [start, size): the bytes before start are history, entered into
  // the match finder only, so back-references may reach into them.
  template <class Sink>
  void Parse(Sink& sink, uint32_t start = 0) {
    for (uint32_t p = 0; p < start; ++p) finder_.Skip(p);
    uint32_t pos = start;
    while (pos < size_) {
      uint32_t end = std::min<uint64_t>(size_, uint64_t{pos} + kChunk);
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
      for (uint32_t p = stop + 1; p < stop + forced.length; ++p) finder_.Skip(p);
      pos = stop + forced.length;
    }
    sink.Flush();
  }

 private:
  static constexpr uint32_t kLengthBits = kBestNice + 1;

  // Runs the match finder over [pos, end) and keeps, per position, the
  // usable back-references (L <= D, D >= 4) with the nearest distance for
  // each length. Stops early at a position that starts a byte run or a
  // back-reference of at least kBestNice bytes: the return value is that
  // position, and forced describes the long code to take there.
  uint32_t Collect(uint32_t pos, uint32_t end, Candidate& forced, bool& forcedRun) {
    cands_.clear();
    Candidate raw[kBestDepth + 8];
    for (uint32_t t = pos; t < end; ++t) {
      uint32_t i = t - pos;
      candStart_[i] = static_cast<uint32_t>(cands_.size());
      uint32_t run = (i > 0 && run_[i - 1] > 1) ? run_[i - 1] - 1 : RunLength(data_, t, size_);
      run_[i] = run;
      if (run >= kBestNice) {
        forced = {run, 0};
        forcedRun = true;
        finder_.Skip(t);
        candStart_[i + 1] = static_cast<uint32_t>(cands_.size());
        return t;
      }
      uint32_t n = finder_.Find(t, raw);
      if (n > 0 && raw[n - 1].length > raw[n - 1].distance) {
        // Periodic bytes: the tree stops at the nearest period; look for the
        // longer legal copy a multiple of it allows.
        uint32_t d = raw[n - 1].distance;
        uint32_t ahead = CommonLength(data_ + t - d, data_ + t, raw[n - 1].length, size_ - t);
        Candidate c = PeriodicMatch(data_, t, d, ahead);
        if (c.length >= kMinMatchLength) raw[n++] = c;
      }
      if (longRange_ && (n == 0 || raw[n - 1].length < kLongSpan)) {
        // Beyond the finder's reach: a repeat from anywhere before.
        uint32_t q = longRange_->Find(base_ + t);
        if (q != kNil && base_ + t - q > t) {
          uint32_t d = base_ + t - q;
          uint32_t len = CommonLength(data_ + (static_cast<int64_t>(t) - d), data_ + t, kLongSpan, std::min(size_ - t, d));
          raw[n++] = {len, d};
        }
      }
      if (n > 0 && std::min(raw[n - 1].length, raw[n - 1].distance) >= kBestNice) {
        uint32_t d = raw[n - 1].distance;
        uint32_t ahead = CommonLength(data_ + t - d, data_ + t, raw[n - 1].length, size_ - t);
        // A repeat from before this parser's bytes (d > t) is never periodic
        // here: its length is capped at its distance.
        forced = ahead > d && d <= t ? PeriodicMatch(data_, t, d, ahead) : Candidate{std::min(ahead, d), d};
        forcedRun = false;
        candStart_[i + 1] = static_cast<uint32_t>(cands_.size());
        return t;
      }
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
  uint32_t size_;
  TreeFinder finder_;
  const LongRangeTable* longRange_;
  uint32_t base_;
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

// ---------------------------------------------------------------- best level in segments

// A large input is parsed in segments of kSegment bytes, each with the
// kHistory bytes before it as the reach of its back-references. Segments are
// independent, so they run on several threads, and the match finder's memory
// is bounded by the segment and history sizes, not by the input. The cut is
// made by size alone, never by the thread count, so every thread count gives
// the same block.
constexpr uint32_t kSegment = 16u << 20;
constexpr uint32_t kHistory = 8u << 20;

// The codes of one segment, recorded to be written in order later.
class CodeRecorder {
 public:
  struct Code {
    Step step;
    uint32_t a;  // literals: first position; match: length; run: count
    uint32_t b;  // literals: count; match: distance; run: byte value
  };
  explicit CodeRecorder(uint32_t offset) : offset_(offset) {}
  void Literals(size_t pos, size_t n) { codes_.push_back({Step::kLiteral, offset_ + (uint32_t)pos, (uint32_t)n}); }
  void Match(uint64_t length, uint64_t distance) { codes_.push_back({Step::kMatch, (uint32_t)length, (uint32_t)distance}); }
  void Run(unsigned char value, uint64_t count) { codes_.push_back({Step::kRun, (uint32_t)count, value}); }
  void Flush() {}
  void Replay(CodeSink& sink) const {
    for (const Code& c : codes_) {
      switch (c.step) {
        case Step::kLiteral: sink.Literals(c.a, c.b); break;
        case Step::kMatch: sink.Match(c.a, c.b); break;
        case Step::kRun: sink.Run((unsigned char)c.b, c.a); break;
      }
    }
  }

 private:
  uint32_t offset_;
  std::vector<Code> codes_;
};

struct SegmentPlan {
  uint32_t segment;
  uint32_t history;
  uint32_t HistoryStart(uint32_t start) const { return start > history ? start - history : 0; }
};

// out's offset must be plan.HistoryStart(start): the parser counts positions from there.
void ParseSegment(const unsigned char* data, uint32_t start, uint32_t end, const SegmentPlan& plan,
                  const LongRangeTable& longRange, CodeRecorder& out) {
  uint32_t base = plan.HistoryStart(start);
  BestParser(data + base, end - base, &longRange, base).Parse(out, start - base);
}

void PackBestInSegments(const unsigned char* data, uint32_t size, const SegmentPlan& plan, unsigned threads,
                        CodeSink& sink, const PackProgress& progress) {
  const uint32_t kSegment = plan.segment;
  const uint32_t count = (uint32_t)((uint64_t{size} + kSegment - 1) / kSegment);
  if (threads < 1) threads = 1;
  const LongRangeTable longRange(data, size);
  // Rounds of `threads` segments: each round's codes are written, in order,
  // before the next round starts, so at most `threads` segments are held.
  for (uint32_t first = 0; first < count; first += threads) {
    uint32_t n = std::min<uint32_t>(threads, count - first);
    std::vector<CodeRecorder> codes;
    codes.reserve(n);
    for (uint32_t i = 0; i < n; ++i) codes.emplace_back(plan.HistoryStart((first + i) * kSegment));
    std::vector<std::thread> workers;
    for (uint32_t i = 1; i < n; ++i) {
      uint32_t k = first + i;
      workers.emplace_back([&, k, i] {
        ParseSegment(data, k * kSegment, (uint32_t)std::min<uint64_t>(size, uint64_t{k + 1} * kSegment), plan,
                     longRange, codes[i]);
      });
    }
    ParseSegment(data, first * kSegment, (uint32_t)std::min<uint64_t>(size, uint64_t{first + 1} * kSegment), plan,
                 longRange, codes[0]);
    for (std::thread& t : workers) t.join();
    for (const CodeRecorder& c : codes) c.Replay(sink);
    if (progress) progress(std::min<uint64_t>(size, uint64_t{first + n} * kSegment), size);
  }
  sink.Flush();
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
  CodeSink sink(data, writer);
  uint32_t n = static_cast<uint32_t>(size);
  if (level == PackLevel::kFast) {
    FastParser(data, n).Parse(sink);
  } else if (segment == 0 || n <= segment) {
    BestParser(data, n).Parse(sink);
  } else {
    PackBestInSegments(data, n, SegmentPlan{segment, history}, threads, sink, progress);
  }
  writer.Finish();
  return true;
}

size_t PackWorkingMemory(size_t size, PackLevel level, unsigned threads) {
  size_t hash = (size_t{1} << HashBitsFor(size)) * sizeof(uint32_t);
  if (level == PackLevel::kFast) return hash + size * sizeof(uint32_t);
  // Segments: per thread, one parser over a segment and its history, and
  // the recorded codes (at most one per two bytes, 12 bytes each).
  if (size > kSegment) {
    size_t window = size_t{kSegment} + kHistory;
    return threads * (PackWorkingMemory(window, level, 1) + size_t{kSegment} / 2 * sizeof(CodeRecorder::Code));
  }
  // Tree (two links per position), hash heads, and the window's arrays:
  // price, from, distance, queue, candidate index, run (4 bytes each), step,
  // and the candidates (at most kBestDepth + 1 per position, usually a few).
  size_t window = size_t{kChunk + 1} * (6 * 4 + 1);
  return hash + size * 2 * sizeof(uint32_t) + window + size_t{kChunk} * 4 * sizeof(Candidate);
}
