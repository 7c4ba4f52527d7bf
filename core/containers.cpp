#include "core/containers.h"

#include <string.h>

#include "core/fatal.h"

namespace {

// Byte size of the nominal 32-bit slot in which the growth and shrink limits
// are stated, whatever the real slot size of the host.
constexpr int64_t kNominalSlotBytes = 4;
constexpr int64_t kShrinkWasteBytes = 8191;

int32_t Clamp(int32_t v, int32_t low, int32_t high) { return v < low ? low : (v > high ? high : v); }

}  // namespace

int32_t VectorCapacityFor(int32_t n) {
  const int64_t m = 3 * (int64_t)n / 2;
  if (m <= 6) return 6;
  if (kNominalSlotBytes * m > 8192) return (int32_t)((int64_t)n + 2048);
  return (int32_t)m;
}

void ElementTypeNameText(const char* typeName, bool isClass, char* out, int32_t size) {
  if (!out || size <= 0) return;
  out[0] = '\0';
  if (!typeName) return;
  const char* start = strstr(typeName, "T = ");
  const char* end = nullptr;
  if (start) {
    start += 4;
    end = strchr(start, ';');
    const char* close = strrchr(start, ']');
    if (!end || (close && close < end)) end = close;
  } else {
    start = typeName;
    isClass = false;  // a name given by a specialisation is used as it stands
  }
  if (!end) end = start + strlen(start);
  int32_t used = 0;
  if (isClass) {
    static const char kClass[] = "class ";
    for (const char* p = kClass; *p && used < size - 1; ++p) out[used++] = *p;
  }
  for (const char* p = start; p < end && used < size - 1; ++p) out[used++] = *p;
  out[used] = '\0';
}

void VectorIndexFatal(const char* typeName, bool isClass, int32_t index, int32_t maxIndex) {
  char name[160];
  ElementTypeNameText(typeName, isClass, name, (int32_t)sizeof name);
  FatalError("Vector<%s>[%d]\r\nmax_index = %d", name, (int)index, (int)maxIndex);
}

void StackPopFatal(const char* typeName, bool isClass) {
  char name[160];
  ElementTypeNameText(typeName, isClass, name, (int32_t)sizeof name);
  FatalError("Stack<%s>::pop", name);
}

// --- SlotVector ------------------------------------------------------------

void SlotVector::Reallocate(int32_t capacity) {
  block_ = static_cast<char*>(MemRealloc(block_, (size_t)capacity * (size_t)slotSize_));
  capacity_ = capacity;
}

void SlotVector::PlaceElements(int32_t newFirst) {
  if (newFirst == first_) return;
  if (count_ > 0)
    memmove(block_ + (intptr_t)newFirst * slotSize_, Slot(0), (size_t)count_ * (size_t)slotSize_);
  first_ = newFirst;
}

char* SlotVector::InsertSlot(int32_t i) {
  if (count_ >= kMaxVectorCount) OutOfMemory((size_t)count_ * (size_t)slotSize_);
  if (i < 0) i = 0;
  if (i > count_) i = count_;
  if (count_ >= capacity_) {
    const bool fresh = block_ == nullptr;
    Reallocate(VectorCapacityFor(count_ + 1));
    if (fresh) first_ = (capacity_ - count_ - 1) / 4;
  }
  const int32_t spare = capacity_ - count_;  // >= 1
  if (i == count_) {
    if (first_ + count_ >= capacity_) PlaceElements(Clamp((spare / 4) / 2, 0, spare - 1));
  } else if (i == 0) {
    if (first_ == 0) {
      PlaceElements(Clamp((spare - 1) / 4, 0, spare - 1) + 1);
    }
    --first_;
  } else if (first_ == 0 || (i >= count_ / 2 && first_ + count_ < capacity_)) {
    memmove(Slot(i + 1), Slot(i), (size_t)(count_ - i) * (size_t)slotSize_);
  } else {
    memmove(Slot(-1), Slot(0), (size_t)i * (size_t)slotSize_);
    --first_;
  }
  ++count_;
  return Slot(i);
}

void SlotVector::RemoveSlots(int32_t from, int32_t n) {
  const int32_t after = count_ - from - n;
  if (from < after) {
    memmove(Slot(n), Slot(0), (size_t)from * (size_t)slotSize_);
    first_ += n;
  } else if (after > 0) {
    memmove(Slot(from), Slot(from + n), (size_t)after * (size_t)slotSize_);
  }
  count_ -= n;
  if (count_ == 0) first_ = (capacity_ - 1) / 4;
}

void SlotVector::ResizeSlots(int32_t n) {
  if (n <= 0) return FreeBlock();
  if (n > kMaxVectorCount) OutOfMemory((size_t)n * (size_t)slotSize_);
  if (count_ > n) count_ = n;
  const int32_t wanted = VectorCapacityFor(n);
  if (n > capacity_) {
    Reallocate(wanted);
  } else if (((int64_t)capacity_ - wanted) * kNominalSlotBytes > kShrinkWasteBytes) {
    char* smaller = static_cast<char*>(MemAlloc((size_t)wanted * (size_t)slotSize_));
    const int32_t newFirst = (wanted - n) / 4;
    if (count_ > 0) memcpy(smaller + (intptr_t)newFirst * slotSize_, Slot(0), (size_t)count_ * (size_t)slotSize_);
    MemFree(block_);
    block_ = smaller;
    capacity_ = wanted;
    first_ = newFirst;
  }
  if (first_ + n > capacity_) PlaceElements((capacity_ - n) / 4);
  if (n > count_) memset(Slot(count_), 0, (size_t)(n - count_) * (size_t)slotSize_);
  count_ = n;
}

void SlotVector::FreeBlock() {
  MemFree(block_);
  block_ = nullptr;
  count_ = first_ = capacity_ = 0;
}

void SlotVector::SwapSlots(int32_t a, int32_t b) {
  char* p = Slot(a);
  char* q = Slot(b);
  for (int32_t k = 0; k < slotSize_; ++k) {
    const char t = p[k];
    p[k] = q[k];
    q[k] = t;
  }
}

bool SlotVector::MoveToEnd(int32_t from, int32_t to) {
  if (from < 0 || to >= count_ || from >= to) return false;
  char saved[kMaxSlotSize];
  memcpy(saved, Slot(from), (size_t)slotSize_);
  memmove(Slot(from), Slot(from + 1), (size_t)(to - from) * (size_t)slotSize_);
  memcpy(Slot(to), saved, (size_t)slotSize_);
  return true;
}

bool SlotVector::MoveToFront(int32_t from, int32_t to) {
  if (from < 0 || to >= count_ || from >= to) return false;
  char saved[kMaxSlotSize];
  memcpy(saved, Slot(to), (size_t)slotSize_);
  memmove(Slot(from + 1), Slot(from), (size_t)(to - from) * (size_t)slotSize_);
  memcpy(Slot(from), saved, (size_t)slotSize_);
  return true;
}

void SlotVector::Reverse(int32_t from, int32_t to) {
  for (; from < to; ++from, --to) SwapSlots(from, to);
}

// Element i moves to (i + k) mod count.
bool SlotVector::Rotate(int32_t k) {
  if (count_ == 0) return false;
  int32_t r = (int32_t)((int64_t)k % count_);
  if (r < 0) r += count_;
  if (r == 0) return true;
  Reverse(0, count_ - 1);
  Reverse(0, r - 1);
  Reverse(r, count_ - 1);
  return true;
}

void SlotVector::SiftDown(int32_t root, int32_t end, SlotOrder order, const void* context) {
  for (;;) {
    int32_t child = 2 * root + 1;
    if (child >= end) return;
    if (child + 1 < end && order(Slot(child), Slot(child + 1), context) < 0) ++child;
    if (order(Slot(root), Slot(child), context) >= 0) return;
    SwapSlots(root, child);
    root = child;
  }
}

void SlotVector::Sort(SlotOrder order, const void* context) {
  if (!order || count_ < 2) return;
  for (int32_t start = count_ / 2 - 1; start >= 0; --start) SiftDown(start, count_, order, context);
  for (int32_t end = count_ - 1; end > 0; --end) {
    SwapSlots(0, end);
    SiftDown(0, end, order, context);
  }
}

void SlotVector::CopySlotsFrom(const SlotVector& other) {
  if (&other == this) return;
  FreeBlock();
  if (other.count_ == 0) return;
  ResizeSlots(other.count_);
  memcpy(Slot(0), other.Slot(0), (size_t)other.count_ * (size_t)slotSize_);
}

void SlotVector::Swap(SlotVector& other) {
  char* block = block_;
  block_ = other.block_;
  other.block_ = block;
  int32_t t = count_;
  count_ = other.count_;
  other.count_ = t;
  t = first_;
  first_ = other.first_;
  other.first_ = t;
  t = capacity_;
  capacity_ = other.capacity_;
  other.capacity_ = t;
}

// --- keys and orders -----------------------------------------------------

uint32_t HashKey(const String& key) { return key.Hash(); }

int TextOrderNoCase(const String* a, const String* b) { return a->CompareNoCase(b->CStr()); }

int TextOrderNoCaseDescending(const String* a, const String* b) { return b->CompareNoCase(a->CStr()); }
