// The library's containers: Vector, Array, List, HashTable (with its Bucket
// chains) and Stack.
//
// Guarantees:
//  - Vector<T> holds plain values (trivially copyable T) in one heap block of
//    slots; Array<T> holds owning pointers to heap-allocated T and destroys
//    what it removes. Both keep free slots at both ends of the block, so
//    insertion and removal move only the elements on the shorter side.
//  - Growth follows VectorCapacityFor exactly; a block shrinks only when more
//    than 8 KiB worth of 32-bit slots would be wasted.
//  - At(i) with a bad index ends the process through the fatal path with
//    "Vector<%s>[%d]\r\nmax_index = %d" (element type name, index, count - 1);
//    popping an empty Stack ends it with "Stack<%s>::pop". Every other bad
//    argument (a bad range, move or rotation index, a null entry) makes the
//    operation do nothing and return false, 0 or null.
//  - Allocation failure never returns (MemAlloc's out-of-memory path).
//  - Sort is in place and not stable (a heap sort: O(n log n) in every case,
//    no recursion, no extra memory for Vector and Array).
//  - HashTable iterates in insertion order (or the order of its last Sort)
//    along a linked order list, never scanning empty buckets; its bucket count
//    is fixed at construction and by copying (no rehash).
//
// Element type names in fatal messages come from ElementTraits<T>::TypeName(),
// which by default is derived from the compiler's function signature (no
// RTTI); specialise ElementTraits to choose another text.
#pragma once
#include <stdint.h>

#include <new>

#include "core/memory.h"
#include "core/random.h"
#include "core/string.h"

// Slots a vector allocates for n elements: m = 3n/2; 6 when m <= 6, n + 2048
// once the block would pass 8 KiB of 32-bit slots (4m > 8192), else m.
int32_t VectorCapacityFor(int32_t n);

// More elements than this in one container is treated as an allocation
// failure (the out-of-memory path), so slot arithmetic never overflows.
constexpr int32_t kMaxVectorCount = 0x0FFFFFFF;

// The largest plain value a Vector slot holds.
constexpr int32_t kMaxSlotSize = 64;

// The compiler's signature of this function names T as "T = <name>".
template <class T>
constexpr const char* ElementSignature() {
  return __PRETTY_FUNCTION__;
}

// Where "T = " starts in a signature (0 without one), and a text's length.
constexpr int32_t ElementSignatureStart(const char* s) {
  for (int32_t i = 0; s[i]; ++i)
    if (s[i] == 'T' && s[i + 1] == ' ' && s[i + 2] == '=' && s[i + 3] == ' ') return i;
  return 0;
}
constexpr int32_t ConstantTextLength(const char* s) {
  int32_t n = 0;
  while (s[n]) ++n;
  return n;
}

// The signature from its "T = " on, computed at compile time: only this tail
// reaches the program, not the whole signature of every element type.
template <class T>
struct ElementSignatureTail {
  static constexpr int32_t kStart = ElementSignatureStart(ElementSignature<T>());
  static constexpr int32_t kSize = ConstantTextLength(ElementSignature<T>()) - kStart + 1;
  struct Text {
    char chars[kSize];
  };
  static constexpr Text kText = [] {
    Text text{};
    for (int32_t i = 0; i < kSize; ++i) text.chars[i] = ElementSignature<T>()[kStart + i];
    return text;
  }();
};

template <class T>
struct ElementTraits {
  // A text naming T: either a compiler signature containing "T = <name>", from
  // which the name is taken (with "class " in front for class types), or, in a
  // specialisation, the name itself.
  static const char* TypeName() { return ElementSignatureTail<T>::kText.chars; }
};

// Writes the display name of a type into out (always terminated, cut to size).
void ElementTypeNameText(const char* typeName, bool isClass, char* out, int32_t size);

[[noreturn]] void VectorIndexFatal(const char* typeName, bool isClass, int32_t index, int32_t maxIndex);
[[noreturn]] void StackPopFatal(const char* typeName, bool isClass);

template <class T>
[[noreturn]] void VectorIndexFatalFor(int32_t index, int32_t maxIndex) {
  VectorIndexFatal(ElementTraits<T>::TypeName(), __is_class(T), index, maxIndex);
}

// Order of two slots for SlotVector::Sort: negative, 0 or positive.
using SlotOrder = int (*)(const void* a, const void* b, const void* context);

// The untyped engine behind Vector and Array: a block of fixed-size slots,
// elements in slots first .. first + count - 1. It moves slots as bytes and
// never constructs or destroys anything; the typed wrappers do.
class SlotVector {
 public:
  constexpr explicit SlotVector(int32_t slotSize) : slotSize_(slotSize) {}
  ~SlotVector() { MemFree(block_); }
  SlotVector(const SlotVector&) = delete;
  SlotVector& operator=(const SlotVector&) = delete;

  int32_t Count() const { return count_; }
  int32_t Capacity() const { return capacity_; }
  int32_t FirstSlot() const { return first_; }
  // Slot of element i; i must lie in 0..count (count: one past the end).
  char* Slot(int32_t i) const { return block_ + (intptr_t)(first_ + i) * slotSize_; }

  // Opens a slot before element i (i <= 0: front, i >= count: end) and
  // returns it, its bytes unset.
  char* InsertSlot(int32_t i);
  // Drops n slots from element from on; the range must be valid.
  void RemoveSlots(int32_t from, int32_t n);
  // New count n > 0 by the SetCount rules; slots beyond the old count are
  // zero-filled. Elements beyond n must have been dealt with by the caller.
  void ResizeSlots(int32_t n);
  // No elements, no block.
  void FreeBlock();
  bool MoveToEnd(int32_t from, int32_t to);
  bool MoveToFront(int32_t from, int32_t to);
  bool Rotate(int32_t k);
  void Sort(SlotOrder order, const void* context);
  // Replaces the contents by a byte copy of other's elements.
  void CopySlotsFrom(const SlotVector& other);
  void Swap(SlotVector& other);

 private:
  void Reallocate(int32_t capacity);
  void PlaceElements(int32_t newFirst);
  void SwapSlots(int32_t a, int32_t b);
  void Reverse(int32_t from, int32_t to);
  void SiftDown(int32_t root, int32_t end, SlotOrder order, const void* context);

  char* block_ = nullptr;
  int32_t count_ = 0;
  int32_t first_ = 0;
  int32_t capacity_ = 0;
  int32_t slotSize_;
};

// ---------------------------------------------------------------------------
// Vector<T>: a growable sequence of plain values with index validation.
template <class T>
class Vector {
  static_assert(__is_trivially_copyable(T), "Vector holds plain values; use Array for owned objects");
  static_assert(sizeof(T) <= kMaxSlotSize, "Vector slots hold small values");

 public:
  using Compare = int (*)(const T* a, const T* b);

  constexpr Vector() : core_(sizeof(T)) {}
  Vector(const Vector& other) : core_(sizeof(T)) { core_.CopySlotsFrom(other.core_); }
  Vector(Vector&& other) noexcept : core_(sizeof(T)) { core_.Swap(other.core_); }
  Vector& operator=(const Vector& other) {
    if (this != &other) core_.CopySlotsFrom(other.core_);
    return *this;
  }
  Vector& operator=(Vector&& other) noexcept {
    if (this != &other) {
      core_.FreeBlock();
      core_.Swap(other.core_);
    }
    return *this;
  }

  int32_t Count() const { return core_.Count(); }
  bool IsEmpty() const { return core_.Count() == 0; }
  int32_t Capacity() const { return core_.Capacity(); }
  int32_t FirstSlot() const { return core_.FirstSlot(); }

  T& At(int32_t i) { return *Checked(i); }
  const T& At(int32_t i) const { return *Checked(i); }
  T& operator[](int32_t i) { return *Checked(i); }
  const T& operator[](int32_t i) const { return *Checked(i); }
  T* TryAt(int32_t i) const { return (i >= 0 && i < Count()) ? Element(i) : nullptr; }
  T* Last() const { return TryAt(Count() - 1); }

  // A value-initialised element before element i (clamped), returned.
  T& InsertAt(int32_t i) { return *new (core_.InsertSlot(i)) T(); }
  T& Insert(int32_t i, const T& value) {
    const T copy = value;  // value may live in this vector's block
    return *new (core_.InsertSlot(i)) T(copy);
  }
  T& Append(const T& value) { return Insert(Count(), value); }
  T& Prepend(const T& value) { return Insert(0, value); }

  bool RemoveAt(int32_t i) { return RemoveRange(i, i) == 1; }
  // Removes from..to inclusive, clamped to the valid range; returns how many.
  int32_t RemoveRange(int32_t from, int32_t to) {
    if (from < 0) from = 0;
    if (to >= Count()) to = Count() - 1;
    if (from > to) return 0;
    core_.RemoveSlots(from, to - from + 1);
    return to - from + 1;
  }
  void Clear() { core_.FreeBlock(); }
  void SetCount(int32_t n) {
    if (n <= 0) return Clear();
    const int32_t old = Count();
    core_.ResizeSlots(n);
    for (int32_t i = old; i < n; ++i) new (Element(i)) T();
  }

  bool MoveToEnd(int32_t from, int32_t to) { return core_.MoveToEnd(from, to); }
  bool MoveToFront(int32_t from, int32_t to) { return core_.MoveToFront(from, to); }
  bool Rotate(int32_t k) { return core_.Rotate(k); }
  void Sort(Compare compare) {
    if (compare) core_.Sort(&Order, &compare);
  }
  // Sorts with an order over slot addresses and a context of the caller's.
  void SortSlots(SlotOrder order, const void* context) { core_.Sort(order, context); }
  // Removes a random element into out; false when empty.
  bool TakeRandom(T& out) {
    if (IsEmpty()) return false;
    const int32_t i = (int32_t)RandomBelow((uint32_t)Count());
    out = *Element(i);
    core_.RemoveSlots(i, 1);
    return true;
  }

  T* begin() const { return IsEmpty() ? nullptr : Element(0); }
  T* end() const { return IsEmpty() ? nullptr : Element(0) + Count(); }

 private:
  T* Element(int32_t i) const { return reinterpret_cast<T*>(core_.Slot(i)); }
  T* Checked(int32_t i) const {
    if (i < 0 || i >= Count()) VectorIndexFatalFor<T>(i, Count() - 1);
    return Element(i);
  }
  static int Order(const void* a, const void* b, const void* context) {
    return (*static_cast<const Compare*>(context))(static_cast<const T*>(a), static_cast<const T*>(b));
  }

  SlotVector core_;
};

// ---------------------------------------------------------------------------
// Array<T>: a Vector of owning pointers to individually allocated elements.
// Growing creates default-constructed elements; shrinking, removing and
// destruction destroy them. Copying copies the elements.
template <class T>
class Array {
 public:
  using Compare = int (*)(const T* a, const T* b);

  constexpr Array() : core_(sizeof(T*)) {}
  Array(const Array& other) : core_(sizeof(T*)) { CopyFrom(other); }
  Array(Array&& other) noexcept : core_(sizeof(T*)) { core_.Swap(other.core_); }
  ~Array() { Clear(); }
  Array& operator=(const Array& other) {
    if (this != &other) CopyFrom(other);
    return *this;
  }
  Array& operator=(Array&& other) noexcept {
    if (this != &other) {
      Clear();
      core_.Swap(other.core_);
    }
    return *this;
  }

  int32_t Count() const { return core_.Count(); }
  bool IsEmpty() const { return core_.Count() == 0; }
  int32_t Capacity() const { return core_.Capacity(); }

  T& At(int32_t i) const { return *Checked(i); }
  T& operator[](int32_t i) const { return *Checked(i); }
  T* TryAt(int32_t i) const { return (i >= 0 && i < Count()) ? Element(i) : nullptr; }
  T* Last() const { return TryAt(Count() - 1); }

  // A new default-constructed element before element i (clamped), returned.
  T& InsertAt(int32_t i) { return Place(i, new (MemAlloc(sizeof(T))) T()); }
  T& Insert(int32_t i, const T& value) { return Place(i, new (MemAlloc(sizeof(T))) T(value)); }
  T& Insert(int32_t i, T&& value) {
    return Place(i, new (MemAlloc(sizeof(T))) T(static_cast<T&&>(value)));
  }
  T& Append() { return InsertAt(Count()); }
  T& Append(const T& value) { return Insert(Count(), value); }
  T& Append(T&& value) { return Insert(Count(), static_cast<T&&>(value)); }
  T& Prepend(const T& value) { return Insert(0, value); }
  T& Prepend(T&& value) { return Insert(0, static_cast<T&&>(value)); }

  bool RemoveAt(int32_t i) { return RemoveRange(i, i) == 1; }
  int32_t RemoveRange(int32_t from, int32_t to) {
    if (from < 0) from = 0;
    if (to >= Count()) to = Count() - 1;
    if (from > to) return 0;
    for (int32_t i = from; i <= to; ++i) Destroy(Element(i));
    core_.RemoveSlots(from, to - from + 1);
    return to - from + 1;
  }
  void Clear() {
    for (int32_t i = 0; i < Count(); ++i) Destroy(Element(i));
    core_.FreeBlock();
  }
  void SetCount(int32_t n) {
    if (n <= 0) return Clear();
    const int32_t old = Count();
    for (int32_t i = n; i < old; ++i) Destroy(Element(i));
    core_.ResizeSlots(n);
    for (int32_t i = old; i < n; ++i) SetSlot(i, new (MemAlloc(sizeof(T))) T());
  }

  bool MoveToEnd(int32_t from, int32_t to) { return core_.MoveToEnd(from, to); }
  bool MoveToFront(int32_t from, int32_t to) { return core_.MoveToFront(from, to); }
  bool Rotate(int32_t k) { return core_.Rotate(k); }
  void Sort(Compare compare) {
    if (compare) core_.Sort(&Order, &compare);
  }
  // Moves a random element into out and removes it; false when empty.
  bool TakeRandom(T& out) {
    if (IsEmpty()) return false;
    const int32_t i = (int32_t)RandomBelow((uint32_t)Count());
    T* element = Element(i);
    out = static_cast<T&&>(*element);
    Destroy(element);
    core_.RemoveSlots(i, 1);
    return true;
  }

  class Iterator {
   public:
    explicit Iterator(T* const* slot) : slot_(slot) {}
    T& operator*() const { return **slot_; }
    T* operator->() const { return *slot_; }
    Iterator& operator++() {
      ++slot_;
      return *this;
    }
    bool operator!=(const Iterator& other) const { return slot_ != other.slot_; }

   private:
    T* const* slot_;
  };
  Iterator begin() const { return Iterator(IsEmpty() ? nullptr : SlotPointer(0)); }
  Iterator end() const { return Iterator(IsEmpty() ? nullptr : SlotPointer(0) + Count()); }

 private:
  T* const* SlotPointer(int32_t i) const { return reinterpret_cast<T* const*>(core_.Slot(i)); }
  T* Element(int32_t i) const { return *SlotPointer(i); }
  void SetSlot(int32_t i, T* element) { *reinterpret_cast<T**>(core_.Slot(i)) = element; }
  T& Place(int32_t i, T* element) {
    *reinterpret_cast<T**>(core_.InsertSlot(i)) = element;
    return *element;
  }
  T* Checked(int32_t i) const {
    if (i < 0 || i >= Count()) VectorIndexFatalFor<T>(i, Count() - 1);
    return Element(i);
  }
  static void Destroy(T* element) {
    element->~T();
    MemFree(element);
  }
  void CopyFrom(const Array& other) {
    Clear();
    for (int32_t i = 0; i < other.Count(); ++i) Append(*other.Element(i));
  }
  static int Order(const void* a, const void* b, const void* context) {
    return (*static_cast<const Compare*>(context))(*static_cast<T* const*>(a), *static_cast<T* const*>(b));
  }

  SlotVector core_;
};

// Text orders for Array<String>, ASCII letters folded.
int TextOrderNoCase(const String* a, const String* b);
int TextOrderNoCaseDescending(const String* a, const String* b);

// ---------------------------------------------------------------------------
// List<T>: a doubly linked sequence of individually allocated nodes. Nodes
// stay where they are while others come and go, so node pointers stay valid
// until their own removal.
template <class T>
class List {
 public:
  struct Node {
    Node* next;
    Node* prev;
    T item;
  };

  List() = default;
  List(const List& other) { CopyFrom(other); }
  ~List() { Clear(); }
  List& operator=(const List& other) {
    if (this != &other) CopyFrom(other);
    return *this;
  }

  int32_t Count() const { return count_; }
  bool IsEmpty() const { return count_ == 0; }
  Node* First() const { return first_; }
  Node* Last() const { return last_; }

  // A new default record at the end, returned for filling in.
  T& Append() { return LinkAfter(last_, new (MemAlloc(sizeof(Node))) Node{nullptr, nullptr, T()})->item; }
  T& Append(const T& value) {
    return LinkAfter(last_, new (MemAlloc(sizeof(Node))) Node{nullptr, nullptr, value})->item;
  }
  T& Prepend() { return LinkAfter(nullptr, new (MemAlloc(sizeof(Node))) Node{nullptr, nullptr, T()})->item; }
  T& Prepend(const T& value) {
    return LinkAfter(nullptr, new (MemAlloc(sizeof(Node))) Node{nullptr, nullptr, value})->item;
  }

  // Unlinks and destroys node, which must belong to this list; false for null.
  bool Remove(Node* node) {
    if (!node || count_ == 0) return false;
    (node->prev ? node->prev->next : first_) = node->next;
    (node->next ? node->next->prev : last_) = node->prev;
    --count_;
    node->~Node();
    MemFree(node);
    return true;
  }
  // The node holding item, or null (a linear search).
  Node* NodeOf(const T* item) const {
    for (Node* n = first_; n; n = n->next)
      if (&n->item == item) return n;
    return nullptr;
  }
  // Turns the sequence by k places towards the end (item i moves to
  // (i + k) mod count); a negative k turns it the other way. False when empty.
  bool Rotate(int32_t k) {
    if (count_ == 0) return false;
    int32_t r = (int32_t)((int64_t)k % count_);
    if (r < 0) r += count_;
    if (r == 0) return true;
    Node* newFirst = last_;
    for (int32_t i = 1; i < r; ++i) newFirst = newFirst->prev;
    last_->next = first_;
    first_->prev = last_;
    last_ = newFirst->prev;
    last_->next = nullptr;
    newFirst->prev = nullptr;
    first_ = newFirst;
    return true;
  }
  void Clear() {
    while (first_) {
      Node* next = first_->next;
      first_->~Node();
      MemFree(first_);
      first_ = next;
    }
    last_ = nullptr;
    count_ = 0;
  }

  class Iterator {
   public:
    explicit Iterator(Node* node) : node_(node) {}
    T& operator*() const { return node_->item; }
    T* operator->() const { return &node_->item; }
    Iterator& operator++() {
      node_ = node_->next;
      return *this;
    }
    bool operator!=(const Iterator& other) const { return node_ != other.node_; }

   private:
    Node* node_;
  };
  Iterator begin() const { return Iterator(first_); }
  Iterator end() const { return Iterator(nullptr); }

 private:
  Node* LinkAfter(Node* before, Node* node) {
    node->prev = before;
    node->next = before ? before->next : first_;
    (node->next ? node->next->prev : last_) = node;
    (before ? before->next : first_) = node;
    ++count_;
    return node;
  }
  void CopyFrom(const List& other) {
    Clear();
    for (Node* n = other.first_; n; n = n->next) Append(n->item);
  }

  int32_t count_ = 0;
  Node* first_ = nullptr;
  Node* last_ = nullptr;
};

// ---------------------------------------------------------------------------
// Keys of hash tables: a String hashes with Hash() and compares exactly
// (case-sensitive); numbers and pointers hash to their own value.
uint32_t HashKey(const String& key);
inline uint32_t HashKey(int32_t key) { return (uint32_t)key; }
inline uint32_t HashKey(uint32_t key) { return key; }
template <class P>
inline uint32_t HashKey(P* key) {
  return (uint32_t)(uintptr_t)key;
}

// One hash-table entry: value type first, key type second. It belongs to the
// chain of its bucket and to the table's insertion-order list.
template <class V, class K>
struct Bucket {
  K key{};
  V value{};
  List<Bucket>* chain = nullptr;
  Bucket* next = nullptr;  // insertion order
  Bucket* prev = nullptr;
};

// HashTable<V, K>: buckets of chains, plus one order list through every entry.
template <class V, class K>
class HashTable {
 public:
  using Entry = Bucket<V, K>;
  using Chain = List<Entry>;
  using Compare = int (*)(const Entry* a, const Entry* b);

  // A table with no buckets receives this many on its first insertion.
  static constexpr int32_t kBucketsWhenNone = 16;

  constexpr HashTable() = default;  // no buckets yet; constant-initialised in static storage
  explicit HashTable(int32_t bucketCount) { buckets_.SetCount(bucketCount); }
  HashTable(const HashTable& other) { CopyFrom(other); }
  HashTable& operator=(const HashTable& other) {
    if (this != &other) CopyFrom(other);
    return *this;
  }

  int32_t Count() const { return count_; }
  bool IsEmpty() const { return count_ == 0; }
  int32_t BucketCount() const { return buckets_.Count(); }
  // Gives a table without buckets count of them; one with buckets keeps its.
  void ReserveBuckets(int32_t count) {
    if (buckets_.IsEmpty()) buckets_.SetCount(count);
  }

  // True when a new entry was added at the end of the order; false when the
  // key was present and only its value was replaced.
  bool Insert(const K& key, const V& value) {
    if (Entry* found = Find(key)) {
      found->value = value;
      return false;
    }
    if (buckets_.IsEmpty()) buckets_.SetCount(kBucketsWhenNone);
    Chain* chain = ChainFor(key);
    Entry& entry = chain->Append();
    entry.key = key;
    entry.value = value;
    entry.chain = chain;
    entry.prev = last_;
    (last_ ? last_->next : first_) = &entry;
    last_ = &entry;
    ++count_;
    return true;
  }
  Entry* Find(const K& key) const {
    Chain* chain = ChainFor(key);
    if (!chain) return nullptr;
    for (Entry& entry : *chain)
      if (entry.key == key) return &entry;
    return nullptr;
  }
  bool Contains(const K& key) const { return Find(key) != nullptr; }
  bool Remove(Entry* entry) {
    if (!entry || !entry->chain) return false;
    typename Chain::Node* node = entry->chain->NodeOf(entry);
    if (!node) return false;
    (entry->prev ? entry->prev->next : first_) = entry->next;
    (entry->next ? entry->next->prev : last_) = entry->prev;
    --count_;
    return entry->chain->Remove(node);
  }
  bool Remove(const K& key) { return Remove(Find(key)); }

  Entry* First() const { return first_; }
  Entry* Last() const { return last_; }
  static Entry* Next(const Entry* entry) { return entry ? entry->next : nullptr; }
  static Entry* Prev(const Entry* entry) { return entry ? entry->prev : nullptr; }

  // Puts the order list into the order of compare; bucket chains stay.
  void Sort(Compare compare) {
    if (!compare || count_ < 2) return;
    Vector<Entry*> entries;
    entries.SetCount(count_);
    int32_t i = 0;
    for (Entry* e = first_; e; e = e->next) entries[i++] = e;
    entries.SortSlots(&EntryOrder, &compare);
    Relink(entries);
  }
  // Removes every entry; the bucket count stays.
  void Clear() {
    for (int32_t i = 0; i < buckets_.Count(); ++i) buckets_[i].Clear();
    first_ = last_ = nullptr;
    count_ = 0;
  }

 private:
  static int EntryOrder(const void* a, const void* b, const void* context) {
    return (*static_cast<const Compare*>(context))(*static_cast<Entry* const*>(a), *static_cast<Entry* const*>(b));
  }
  Chain* ChainFor(const K& key) const {
    const uint32_t n = (uint32_t)buckets_.Count();
    if (n == 0) return nullptr;
    return &buckets_.At((int32_t)(HashKey(key) % n));
  }
  void Relink(const Vector<Entry*>& entries) {
    Entry* prev = nullptr;
    for (Entry* e : entries) {
      e->prev = prev;
      (prev ? prev->next : first_) = e;
      prev = e;
    }
    prev->next = nullptr;
    last_ = prev;
  }
  void CopyFrom(const HashTable& other) {
    const int32_t otherCount = other.count_;
    Entry* from = other.first_;  // other may not be this (checked by callers)
    Clear();
    buckets_.Clear();
    buckets_.SetCount((int32_t)((otherCount + 1) * 1.25));
    for (; from; from = from->next) Insert(from->key, from->value);
  }

  int32_t count_ = 0;
  Array<Chain> buckets_;
  Entry* first_ = nullptr;
  Entry* last_ = nullptr;
};

// ---------------------------------------------------------------------------
// Stack<T>: last in, first out. Plain values sit in a Vector, other types in
// an Array.
template <bool kPlain, class T>
struct StackStorageOf {
  using Type = Array<T>;
};
template <class T>
struct StackStorageOf<true, T> {
  using Type = Vector<T>;
};

template <class T>
class Stack {
 public:
  void Push(const T& value) { items_.Append(value); }
  // The last element, removed; an empty stack is fatal ("Stack<%s>::pop").
  T Pop() {
    if (items_.IsEmpty()) StackPopFatal(ElementTraits<T>::TypeName(), __is_class(T));
    T value = static_cast<T&&>(*items_.Last());
    items_.RemoveAt(items_.Count() - 1);
    return value;
  }
  int32_t Count() const { return items_.Count(); }
  bool IsEmpty() const { return items_.IsEmpty(); }
  // The last element, or null when empty.
  T* Top() const { return items_.Last(); }
  void Clear() { items_.Clear(); }

 private:
  typename StackStorageOf<__is_trivially_copyable(T) && sizeof(T) <= kMaxSlotSize, T>::Type items_;
};
