#include "core/containers.h"

#include <gtest/gtest.h>

#include <string.h>

#include "core/random.h"
#include "core/string.h"

namespace {

// The contents of a Vector<int> or Array<int> as "1,2,3" for readable checks.
template <class C>
String Joined(const C& c) {
  String out;
  char number[16];
  for (int32_t i = 0; i < c.Count(); ++i) {
    snprintf(number, sizeof number, i ? ",%d" : "%d", (int)c.At(i));
    out.Append(number);
  }
  return out;
}

TEST(VectorCapacityFor, GrowthTable) {
  struct Case {
    int32_t n, capacity;
  } const cases[] = {
      {-5, 6}, {0, 6}, {1, 6}, {4, 6}, {5, 7}, {6, 9}, {1024, 1536}, {1365, 2047}, {1366, 3414}, {100000, 102048},
  };
  for (const Case& c : cases) EXPECT_EQ(VectorCapacityFor(c.n), c.capacity) << "n = " << c.n;
}

TEST(Vector, FirstAllocationPlacesFreeSlotsAtBothEnds) {
  Vector<int> v;
  v.Append(7);
  EXPECT_EQ(v.Capacity(), 6);
  EXPECT_EQ(v.FirstSlot(), 1);  // (6 - 0 - 1) / 4
  v.Prepend(6);                 // a free slot before: no move
  EXPECT_EQ(v.FirstSlot(), 0);
  v.Prepend(5);  // first is 0: elements move to (6 - 2 - 1) / 4 + 1
  EXPECT_EQ(v.FirstSlot(), 0);
  EXPECT_STREQ(Joined(v).CStr(), "5,6,7");
  v.Append(8);
  v.Append(9);
  v.Append(10);
  EXPECT_EQ(v.Capacity(), 6);
  v.Append(11);  // block full: grows to VectorCapacityFor(7) = 10, slots keep their places
  EXPECT_EQ(v.Capacity(), 10);
  EXPECT_EQ(v.FirstSlot(), 0);
  EXPECT_STREQ(Joined(v).CStr(), "5,6,7,8,9,10,11");
}

TEST(Vector, AppendAtEndOfBlockRecentres) {
  Vector<int> v;
  for (int i = 0; i < 5; ++i) v.Append(i);  // first 1, slots 1..5 of 6
  ASSERT_EQ(v.Capacity(), 6);
  ASSERT_EQ(v.FirstSlot(), 1);
  v.RemoveAt(0);  // front removal: first moves up to 2
  EXPECT_EQ(v.FirstSlot(), 2);
  v.Append(5);  // no slot after the last: move to ((6 - 4) / 4) / 2 = 0
  EXPECT_EQ(v.FirstSlot(), 0);
  EXPECT_STREQ(Joined(v).CStr(), "1,2,3,4,5");
}

// Every way of inserting and removing, checked against a plain array.
TEST(Vector, InsertAndRemoveAnywhereKeepOrder) {
  RandomSeed(12345);
  Vector<int> v;
  int reference[600];
  int count = 0;
  for (int step = 0; step < 3000; ++step) {
    const uint32_t action = RandomBelow(10);
    if (action < 6 && count < 600) {
      int at;
      switch (action) {
        case 0: at = 0; break;
        case 1: at = count; break;
        case 2: at = -3; break;        // clamps to the front
        case 3: at = count + 9; break;  // clamps to the end
        default: at = count ? (int)RandomBelow((uint32_t)count + 1) : 0;
      }
      v.Insert(at, step);
      if (at < 0) at = 0;
      if (at > count) at = count;
      memmove(reference + at + 1, reference + at, sizeof(int) * (size_t)(count - at));
      reference[at] = step;
      ++count;
    } else if (count > 0) {
      const int from = (int)RandomBelow((uint32_t)count);
      const int to = from + (int)RandomBelow(4);
      const int last = to < count ? to : count - 1;
      EXPECT_EQ(v.RemoveRange(from, to), last - from + 1);
      memmove(reference + from, reference + last + 1, sizeof(int) * (size_t)(count - last - 1));
      count -= last - from + 1;
    }
    ASSERT_EQ(v.Count(), count);
    ASSERT_LE(v.FirstSlot() + v.Count(), v.Capacity());
    for (int i = 0; i < count; ++i) ASSERT_EQ(v[i], reference[i]) << "step " << step << " index " << i;
  }
}

TEST(Vector, InsertionNearTheFrontMovesTheFrontPart) {
  Vector<int> v;
  for (int i = 0; i < 8; ++i) v.Append(i);  // slots 0..7 of 9
  ASSERT_EQ(v.FirstSlot(), 0);
  v.Insert(2, 100);  // first is 0: the part after the slot moves up
  EXPECT_EQ(v.FirstSlot(), 0);
  v.RemoveAt(0);  // the shorter front part moves: first 1
  ASSERT_EQ(v.FirstSlot(), 1);
  v.Insert(1, 200);  // before the middle with a free slot in front: the front part moves down
  EXPECT_EQ(v.FirstSlot(), 0);
  EXPECT_STREQ(Joined(v).CStr(), "1,200,100,2,3,4,5,6,7");
}

TEST(Vector, RemoveRangeClampsAndIgnoresEmptyRanges) {
  struct Case {
    int from, to, removed;
    const char* left;
  } const cases[] = {
      {-4, 1, 2, "2,3,4"}, {3, 99, 2, "0,1,2"}, {2, 2, 1, "0,1,3,4"}, {3, 1, 0, "0,1,2,3,4"}, {5, 9, 0, "0,1,2,3,4"},
  };
  for (const Case& c : cases) {
    Vector<int> v;
    for (int i = 0; i < 5; ++i) v.Append(i);
    EXPECT_EQ(v.RemoveRange(c.from, c.to), c.removed) << c.from << ".." << c.to;
    EXPECT_STREQ(Joined(v).CStr(), c.left) << c.from << ".." << c.to;
  }
}

TEST(Vector, SetCountGrowsWithZeroesAndShrinksOnlyWhenWasteful) {
  Vector<int> v;
  v.Append(3);
  v.SetCount(4);
  EXPECT_STREQ(Joined(v).CStr(), "3,0,0,0");
  v.SetCount(10000);
  EXPECT_EQ(v.Capacity(), VectorCapacityFor(10000));
  EXPECT_EQ(v[9999], 0);
  v.SetCount(9000);  // 1000 spare slots: 4000 bytes, kept
  EXPECT_EQ(v.Capacity(), VectorCapacityFor(10000));
  v.SetCount(10);  // shrinks to the capacity for 10, elements kept
  EXPECT_EQ(v.Capacity(), VectorCapacityFor(10));
  EXPECT_EQ(v.FirstSlot(), (15 - 10) / 4);
  EXPECT_EQ(v.Count(), 10);
  EXPECT_EQ(v[0], 3);
  v.SetCount(0);
  EXPECT_EQ(v.Count(), 0);
  EXPECT_EQ(v.Capacity(), 0);
  EXPECT_EQ(v.TryAt(0), nullptr);
}

TEST(Vector, SetCountMovesElementsThatWouldPassTheEnd) {
  Vector<int> v;
  for (int i = 0; i < 6; ++i) v.Append(i);  // slots 0..5 of 6
  v.RemoveRange(0, 3);                      // two left in slots 4 and 5
  ASSERT_EQ(v.FirstSlot(), 4);
  v.SetCount(5);  // 4 + 5 passes the end: elements move to (6 - 5) / 4
  EXPECT_EQ(v.Capacity(), 6);
  EXPECT_EQ(v.FirstSlot(), 0);
  EXPECT_STREQ(Joined(v).CStr(), "4,5,0,0,0");
}

TEST(Vector, MoveAndRotate) {
  struct Case {
    const char* op;
    int a, b;
    bool done;
    const char* result;
  } const cases[] = {
      {"end", 1, 3, true, "0,2,3,1,4"},   {"end", 0, 4, true, "1,2,3,4,0"},   {"front", 1, 3, true, "0,3,1,2,4"},
      {"front", 0, 4, true, "4,0,1,2,3"}, {"end", 3, 3, false, "0,1,2,3,4"},  {"end", 3, 1, false, "0,1,2,3,4"},
      {"front", -1, 2, false, "0,1,2,3,4"}, {"front", 2, 5, false, "0,1,2,3,4"}, {"rotate", 1, 0, true, "4,0,1,2,3"},
      {"rotate", -1, 0, true, "1,2,3,4,0"}, {"rotate", 7, 0, true, "3,4,0,1,2"},  {"rotate", -10, 0, true, "0,1,2,3,4"},
      {"rotate", (int)0x80000000, 0, true, "3,4,0,1,2"},
  };
  for (const Case& c : cases) {
    Vector<int> v;
    Array<int> a;
    for (int i = 0; i < 5; ++i) {
      v.Append(i);
      a.Append(i);
    }
    bool vDone, aDone;
    if (!strcmp(c.op, "end")) {
      vDone = v.MoveToEnd(c.a, c.b);
      aDone = a.MoveToEnd(c.a, c.b);
    } else if (!strcmp(c.op, "front")) {
      vDone = v.MoveToFront(c.a, c.b);
      aDone = a.MoveToFront(c.a, c.b);
    } else {
      vDone = v.Rotate(c.a);
      aDone = a.Rotate(c.a);
    }
    EXPECT_EQ(vDone, c.done) << c.op << " " << c.a << " " << c.b;
    EXPECT_EQ(aDone, c.done) << c.op << " " << c.a << " " << c.b;
    EXPECT_STREQ(Joined(v).CStr(), c.result) << c.op << " " << c.a << " " << c.b;
    EXPECT_STREQ(Joined(a).CStr(), c.result) << c.op << " " << c.a << " " << c.b;
  }
  Vector<int> empty;
  EXPECT_FALSE(empty.Rotate(1));
}

int Ascending(const int* a, const int* b) { return *a < *b ? -1 : (*a > *b ? 1 : 0); }

TEST(Vector, SortOrdersAllElements) {
  RandomSeed(99);
  for (int n : {0, 1, 2, 3, 17, 1000}) {
    Vector<int> v;
    for (int i = 0; i < n; ++i) v.Append((int)RandomBelow(50) - 25);
    v.Sort(&Ascending);
    ASSERT_EQ(v.Count(), n);
    for (int i = 1; i < n; ++i) ASSERT_LE(v[i - 1], v[i]) << "n = " << n;
  }
}

TEST(Vector, CopiesAreIndependent) {
  Vector<int> v;
  for (int i = 0; i < 20; ++i) v.Append(i);
  Vector<int> copy(v);
  copy[0] = 99;
  v.Append(20);
  EXPECT_EQ(v[0], 0);
  EXPECT_EQ(copy.Count(), 20);
  EXPECT_EQ(copy[0], 99);
  copy = v;
  EXPECT_STREQ(Joined(copy).CStr(), Joined(v).CStr());
  Vector<int> moved(static_cast<Vector<int>&&>(copy));
  EXPECT_EQ(moved.Count(), 21);
  EXPECT_EQ(copy.Count(), 0);
}

TEST(Vector, AppendingAnOwnElementSurvivesGrowth) {
  Vector<int> v;
  for (int i = 0; i < 6; ++i) v.Append(i + 1);
  ASSERT_EQ(v.Count(), v.Capacity());
  v.Append(v[0]);  // the block moves while the value is read
  EXPECT_EQ(v[6], 1);
}

TEST(Vector, TakeRandomEmptiesTheVectorExactlyOnce) {
  RandomSeed(7);
  Vector<int> v;
  for (int i = 0; i < 50; ++i) v.Append(i);
  bool seen[50] = {};
  int taken;
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(v.TakeRandom(taken));
    ASSERT_GE(taken, 0);
    ASSERT_LT(taken, 50);
    EXPECT_FALSE(seen[taken]);
    seen[taken] = true;
  }
  EXPECT_FALSE(v.TakeRandom(taken));
}

TEST(Random, LinearCongruentialSequence) {
  RandomSeed(1);
  const uint32_t expected[] = {41, 18467, 6334, 26500, 19169};
  for (uint32_t e : expected) EXPECT_EQ(RandomDraw(), e);
  RandomSeed(1);
  EXPECT_EQ(RandomBelow(10), 1u);        // 41 % 10
  EXPECT_EQ(RandomBelow(100000), (18467u << 15 | 6334u) % 100000u);
  EXPECT_EQ(RandomBelow(1), 0u);
  EXPECT_EQ(RandomBelow(0), 0u);
  EXPECT_EQ(RandomDraw(), 26500u);  // n < 2 did not draw
}

// An element type that counts its live instances.
struct Tracked {
  static int live;
  int value = -1;
  Tracked() { ++live; }
  Tracked(const Tracked& other) : value(other.value) { ++live; }
  Tracked& operator=(const Tracked&) = default;
  ~Tracked() { --live; }
};
int Tracked::live = 0;

TEST(Array, OwnsItsElements) {
  Tracked::live = 0;
  {
    Array<Tracked> a;
    a.SetCount(10);
    EXPECT_EQ(Tracked::live, 10);
    a.At(9).value = 9;
    a.RemoveRange(2, 4);
    EXPECT_EQ(Tracked::live, 7);
    a.SetCount(3);
    EXPECT_EQ(Tracked::live, 3);
    Array<Tracked> copy(a);
    EXPECT_EQ(Tracked::live, 6);
    copy.Clear();
    EXPECT_EQ(Tracked::live, 3);
    Tracked out;
    EXPECT_TRUE(a.TakeRandom(out));
    EXPECT_EQ(Tracked::live, 3);  // two left plus out
  }
  EXPECT_EQ(Tracked::live, 0);
}

TEST(Array, StringsInsertAnywhereAndSortIgnoringCase) {
  Array<String> a;
  a.Append(String("delta"));
  a.Prepend(String("Bravo"));
  a.Insert(1, String("charlie"));
  a.InsertAt(0).Assign("alpha");
  ASSERT_EQ(a.Count(), 4);
  const char* const inserted[] = {"alpha", "Bravo", "charlie", "delta"};
  for (int i = 0; i < 4; ++i) EXPECT_STREQ(a[i].CStr(), inserted[i]);
  a.Sort(&TextOrderNoCaseDescending);
  const char* const descending[] = {"delta", "charlie", "Bravo", "alpha"};
  int i = 0;
  for (const String& s : a) EXPECT_STREQ(s.CStr(), descending[i++]);
  a.Sort(&TextOrderNoCase);
  EXPECT_STREQ(a[1].CStr(), "Bravo");
  EXPECT_STREQ(a.Last()->CStr(), "delta");
  EXPECT_EQ(a.TryAt(4), nullptr);
  EXPECT_EQ(a.TryAt(-1), nullptr);
}

TEST(ContainersDeath, BadIndexNamesTypeIndexAndMaxIndex) {
  Vector<int> v;
  v.Append(1);
  v.Append(2);
  v.Append(3);
  EXPECT_EXIT(v.At(3), ::testing::ExitedWithCode(1), "FATAL ERROR: Vector<int>\\[3\\]\r\nmax_index = 2");
  EXPECT_EXIT(v.At(-1), ::testing::ExitedWithCode(1), "Vector<int>\\[-1\\]\r\nmax_index = 2");
  Array<String> a;
  EXPECT_EXIT(a.At(0), ::testing::ExitedWithCode(1), "Vector<class String>\\[0\\]\r\nmax_index = -1");
}

TEST(ContainersDeath, PopOfEmptyStackNamesType) {
  Stack<unsigned> s;
  EXPECT_EXIT(s.Pop(), ::testing::ExitedWithCode(1), "FATAL ERROR: Stack<unsigned int>::pop");
  Stack<String> t;
  EXPECT_EXIT(t.Pop(), ::testing::ExitedWithCode(1), "Stack<class String>::pop");
}

TEST(ElementTypeNameText, SignaturesAndPlainNames) {
  char out[64];
  ElementTypeNameText("static const char* ElementTraits<T>::TypeName() [with T = List<Bucket<bool, String> >]", true,
                      out, sizeof out);
  EXPECT_STREQ(out, "class List<Bucket<bool, String> >");
  ElementTypeNameText("static const char *ElementTraits<int>::TypeName() [T = int]", false, out, sizeof out);
  EXPECT_STREQ(out, "int");
  ElementTypeNameText("class String", true, out, sizeof out);  // a specialisation's own text
  EXPECT_STREQ(out, "class String");
  ElementTypeNameText("x [with T = AVeryLongTypeNameThatDoesNotFitAtAll]", true, out, 12);
  EXPECT_STREQ(out, "class AVery");
}

TEST(Stack, LastInFirstOut) {
  Stack<String> s;
  EXPECT_EQ(s.Top(), nullptr);
  s.Push("HKEY_LOCAL_MACHINE");
  s.Push("HKEY_LOCAL_MACHINE\\Software");
  EXPECT_EQ(s.Count(), 2);
  EXPECT_STREQ(s.Top()->CStr(), "HKEY_LOCAL_MACHINE\\Software");
  EXPECT_STREQ(s.Pop().CStr(), "HKEY_LOCAL_MACHINE\\Software");
  EXPECT_STREQ(s.Pop().CStr(), "HKEY_LOCAL_MACHINE");
  EXPECT_TRUE(s.IsEmpty());
  Stack<int> numbers;
  for (int i = 0; i < 100; ++i) numbers.Push(i);
  for (int i = 99; i >= 0; --i) ASSERT_EQ(numbers.Pop(), i);
}

String ListText(const List<int>& list) {
  String out;
  char number[16];
  for (int v : list) {
    snprintf(number, sizeof number, out.IsEmpty() ? "%d" : ",%d", v);
    out.Append(number);
  }
  // Walking backwards must give the same sequence reversed.
  int count = 0;
  for (List<int>::Node* n = list.Last(); n; n = n->prev) ++count;
  EXPECT_EQ(count, list.Count());
  return out;
}

TEST(List, AppendPrependRemoveRotate) {
  List<int> list;
  list.Append() = 2;
  list.Append(3);
  list.Prepend(1);
  list.Prepend() = 0;
  EXPECT_STREQ(ListText(list).CStr(), "0,1,2,3");
  EXPECT_TRUE(list.Remove(list.First()->next));  // a middle node
  EXPECT_STREQ(ListText(list).CStr(), "0,2,3");
  EXPECT_TRUE(list.Remove(list.Last()));
  EXPECT_TRUE(list.Remove(list.First()));
  EXPECT_STREQ(ListText(list).CStr(), "2");
  EXPECT_FALSE(list.Remove(nullptr));
  EXPECT_TRUE(list.Remove(list.First()));
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.First(), nullptr);
  EXPECT_EQ(list.Last(), nullptr);
  EXPECT_FALSE(list.Rotate(1));

  struct Case {
    int k;
    const char* result;
  } const cases[] = {{0, "0,1,2,3,4"}, {1, "4,0,1,2,3"}, {-1, "1,2,3,4,0"}, {4, "1,2,3,4,0"}, {12, "3,4,0,1,2"}};
  for (const Case& c : cases) {
    List<int> l;
    for (int i = 0; i < 5; ++i) l.Append(i);
    EXPECT_TRUE(l.Rotate(c.k));
    EXPECT_STREQ(ListText(l).CStr(), c.result) << "k = " << c.k;
    List<int> copy(l);
    EXPECT_STREQ(ListText(copy).CStr(), c.result);
  }
}

using StringSet = HashTable<bool, String>;

String OrderText(const StringSet& table) {
  String out;
  for (const StringSet::Entry* e = table.First(); e; e = StringSet::Next(e)) out.Append(e->key);
  String back;
  for (const StringSet::Entry* e = table.Last(); e; e = StringSet::Prev(e)) back.Insert(0, e->key.CStr());
  EXPECT_STREQ(out.CStr(), back.CStr()) << "order list links disagree";
  return out;
}

int KeyOrder(const StringSet::Entry* a, const StringSet::Entry* b) { return a->key.Compare(b->key.CStr()); }

TEST(HashTable, InsertionOrderAndSort) {
  StringSet table(7);
  EXPECT_TRUE(table.Insert("c", true));
  EXPECT_TRUE(table.Insert("a", false));
  EXPECT_TRUE(table.Insert("b", true));
  EXPECT_STREQ(OrderText(table).CStr(), "cab");
  table.Sort(&KeyOrder);
  EXPECT_STREQ(OrderText(table).CStr(), "abc");
  EXPECT_TRUE(table.Insert("0", true));  // new entries follow the sorted order
  EXPECT_STREQ(OrderText(table).CStr(), "abc0");
  EXPECT_TRUE(table.Find("a") != nullptr);  // chains are untouched by Sort
  EXPECT_EQ(table.BucketCount(), 7);
}

TEST(HashTable, DuplicateKeysReplaceAndCaseMatters) {
  StringSet table(3);
  EXPECT_TRUE(table.Insert("Setup.exe", false));
  EXPECT_FALSE(table.Insert("Setup.exe", true));
  EXPECT_EQ(table.Count(), 1);
  ASSERT_NE(table.Find("Setup.exe"), nullptr);
  EXPECT_TRUE(table.Find("Setup.exe")->value);
  EXPECT_TRUE(table.Insert("SETUP.EXE", false));
  EXPECT_EQ(table.Count(), 2);
  EXPECT_FALSE(table.Contains("setup.exe"));
}

TEST(HashTable, RemoveKeepsOrderAndChains) {
  HashTable<int, int> table(2);  // long chains on purpose
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(table.Insert(i * 3, i));
  EXPECT_TRUE(table.Remove(9));
  EXPECT_TRUE(table.Remove(table.First()));
  EXPECT_TRUE(table.Remove(table.Last()));
  EXPECT_FALSE(table.Remove(9));
  EXPECT_FALSE(table.Remove(static_cast<HashTable<int, int>::Entry*>(nullptr)));
  EXPECT_EQ(table.Count(), 7);
  const int expected[] = {3, 6, 12, 15, 18, 21, 24};
  int i = 0;
  for (auto* e = table.First(); e; e = e->next) {
    ASSERT_LT(i, 7);
    EXPECT_EQ(e->key, expected[i]);
    EXPECT_EQ(table.Find(e->key), e);
    ++i;
  }
  EXPECT_EQ(i, 7);
  table.Clear();
  EXPECT_EQ(table.Count(), 0);
  EXPECT_EQ(table.First(), nullptr);
  EXPECT_EQ(table.BucketCount(), 2);
  EXPECT_FALSE(table.Contains(3));
}

TEST(HashTable, CopyResizesBucketsAndKeepsOrder) {
  HashTable<bool, unsigned> source(3);
  const unsigned keys[] = {40, 7, 1000000, 3, 12, 99, 5};
  for (unsigned k : keys) source.Insert(k, k % 2 == 0);
  HashTable<bool, unsigned> copy(50);
  copy.Insert(1, true);
  copy = source;
  EXPECT_EQ(copy.BucketCount(), (int)((7 + 1) * 1.25));
  EXPECT_EQ(copy.Count(), 7);
  int i = 0;
  for (auto* e = copy.First(); e; e = e->next, ++i) {
    EXPECT_EQ(e->key, keys[i]);
    EXPECT_EQ(e->value, keys[i] % 2 == 0);
  }
  EXPECT_FALSE(copy.Contains(1));
  HashTable<bool, unsigned> empty;
  HashTable<bool, unsigned> emptyCopy(empty);
  EXPECT_EQ(emptyCopy.BucketCount(), 1);
}

TEST(HashTable, NoBucketsFindsNothingYetKeepsInsertedEntries) {
  HashTable<int, int> table(-4);
  EXPECT_EQ(table.BucketCount(), 0);
  EXPECT_EQ(table.Find(1), nullptr);
  EXPECT_FALSE(table.Remove(1));
  EXPECT_TRUE(table.Insert(1, 10));
  EXPECT_EQ(table.BucketCount(), (HashTable<int, int>::kBucketsWhenNone));
  ASSERT_NE(table.Find(1), nullptr);
  EXPECT_EQ(table.Find(1)->value, 10);
}

TEST(HashTable, PointerKeys) {
  struct Handle {};
  Handle handles[3];
  HashTable<int, Handle*> table(5);
  for (int i = 0; i < 3; ++i) table.Insert(&handles[i], i);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(table.Find(&handles[i])->value, i);
}

}  // namespace
