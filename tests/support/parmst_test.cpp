#include "support/Parmst.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/ui/popups.h"
#include "support/Qv_err.h"
#include "tests/support/error_globals.h"
#include "tests/testsupport/testsupport.h"

namespace headless = platform::ui::headless;

namespace {

template <class T>
ParameterValue pv(T x) {
  ParameterValue v{};
  std::memcpy(v.data, &x, sizeof x);
  return v;
}

template <class T>
T as(const ParameterValue &v) {
  T x;
  std::memcpy(&x, v.data, sizeof x);
  return x;
}

ParameterValue text_value(const std::string &s) {
  ParameterValue v{};
  std::snprintf(v.data, sizeof v.data, "%s", s.c_str());
  return v;
}

size_t size_of(char letter) {
  switch (letter) {
    case 'C': return 1;
    case 'D': return 8;
    case 'G':
    case 'H': return 2;
    default: return 4;
  }
}

ParameterValue encode(char letter, double d) {
  switch (letter) {
    case 'C': return pv(static_cast<char>(d));
    case 'D': return pv(d);
    case 'F': return pv(static_cast<float>(d));
    case 'G': return pv(static_cast<uint16_t>(d));
    case 'H': return pv(static_cast<int16_t>(d));
    case 'M':
    case 'U': return pv(static_cast<uint32_t>(static_cast<int64_t>(d)));
    default: return pv(static_cast<int32_t>(d));
  }
}

double decode(char letter, const ParameterValue &v) {
  switch (letter) {
    case 'C': return as<char>(v);
    case 'D': return as<double>(v);
    case 'F': return as<float>(v);
    case 'G': return as<uint16_t>(v);
    case 'H': return as<int16_t>(v);
    case 'M':
    case 'U': return as<uint32_t>(v);
    default: return as<int32_t>(v);
  }
}

bool rest_is_zero(const ParameterValue &v, size_t from) {
  for (size_t i = from; i < sizeof v.data; ++i)
    if (v.data[i] != 0) return false;
  return true;
}

ParameterDescriptor row(char type, double min, double max, double def = 0, int16_t list = -1) {
  ParameterDescriptor d{};
  d.type = type;
  d.discrete = list;
  d.min = min;
  d.max = max;
  d.def = def;
  return d;
}

struct SetDeleter {
  void operator()(ParameterSet *s) const { delete_parameter_set(s); }
};
using Set = std::unique_ptr<ParameterSet, SetDeleter>;

const DiscreteValueRow kLists[] = {
    {1, 2, 3},
    {10, 20, 30, 40, 50},
    {0.1f, 0.2f},
    {65, 66, 67},
    {7, 3000000000.0f},
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14},
};

// Reports go to the real error-text file (so its PARMST_* lines are used)
// and to a log of the test's own.
class Store : public ::testing::Test {
 protected:
  void SetUp() override {
    globals_.point_to(testsupport::source_path("resources/kmv_err.dat"), dir_.file("trq_err.out"));
    errmsg_to_screen = 1;
    errmsg_to_file = 1;
    headless::clear();
  }
  void TearDown() override {
    parmst_testing::fail_allocation(0);
    headless::clear();
  }

  std::string log() const { return testsupport::read_file(out_); }
  void clear_log() const { std::remove(out_); }

  static Set make(std::initializer_list<ParameterDescriptor> rows, const char *const *texts = nullptr,
                  const DiscreteValueRow *lists = kLists) {
    const std::vector<ParameterDescriptor> v(rows);
    return Set(create_parameter_set(nullptr, "module_parameters", v.data(), texts, lists,
                                    static_cast<int16_t>(v.size())));
  }

  testsupport::TempDir dir_;
  testsupport::ErrorGlobals globals_;
  char (&out_)[260] = globals_.out;
};

TEST_F(Store, ContinuousValuesAreLimitedByTheirLetter) {
  struct Case {
    char letter;
    double min, max, in, stored;
  } cases[] = {
      {'I', 0, 100, 150, 100},
      {'I', 0, 100, -5, 0},
      {'I', 0, 100, 100, 100},
      {'B', 5, 1, 0, 0},  // B has no minimum
      {'B', 5, 1, -3, 0},
      {'B', 5, 1, 7, 1},
      {'F', 0, 5, 5, 5},
      {'F', 0, 5, 5.5, 5},
      {'F', 0, 5, -0.25, 0},
      {'F', 0, 5, 2.5, 2.5},
      {'D', -1, 1, 2, 1},
      {'D', -1, 1, -1.5, -1},
      {'G', 10, 1000, 65535, 1000},  // unsigned compare
      {'G', 10, 1000, 5, 10},
      {'H', -100, 100, -32768, -100},
      {'H', -100, 100, 32767, 100},
      {'L', -10, 10, 11, 10},
      {'L', -10, 10, -11, -10},
      {'M', 0, 255, 4294967295.0, 255},
      {'U', 0, 255, 4294967295.0, 255},
      {'U', 10, 255, 0, 10},
      {'C', 0, 0, 'x', 'x'},  // stored as given
  };
  for (const Case &c : cases) {
    Set s = make({row(c.letter, c.min, c.max)});
    ASSERT_EQ(s->built, 1);
    EXPECT_EQ(set_parameter(s.get(), 0, encode(c.letter, c.in)), 0);
    const ParameterValue v = read_parameter(s.get(), 0);
    EXPECT_EQ(decode(c.letter, v), c.stored) << c.letter << " " << c.in;
    EXPECT_TRUE(rest_is_zero(v, size_of(c.letter))) << c.letter;
  }
  EXPECT_TRUE(headless::shown().empty());
}

TEST_F(Store, DefaultsTruncateTowardZeroWithinTheTypesRange) {
  struct Case {
    char letter;
    double min, max, def, read;
  } cases[] = {
      {'I', -10, 10, 3.9, 3},
      {'I', -10, 10, -3.9, -3},
      {'I', -10, 10, NAN, 0},
      {'G', 0, 1e6, 70000, 65535},
      {'M', 0, 10, -1, 0},
      {'H', 0, 10, 1e9, 32767},
      {'L', 0, 10, -1e12, -2147483648.0},
      {'F', 0, 10, 1e300, FLT_MAX},
  };
  for (const Case &c : cases) {
    Set s = make({row(c.letter, c.min, c.max, c.def)});
    EXPECT_EQ(decode(c.letter, read_parameter(s.get(), 0)), c.read) << c.letter << " " << c.def;
  }
}

TEST_F(Store, IndexOutOfRangeIsRefusedAndOnlyLogged) {
  Set s = make({row('I', 0, 9, 4), row('F', 0, 1), row('S', 0, 0)});
  struct Case {
    int index;
    bool valid;
  } cases[] = {{-1, false}, {3, false}, {2, true}, {0, true}, {100000, false}, {65536, false}};
  for (const Case &c : cases) {
    EXPECT_EQ(set_parameter(s.get(), c.index, pv<int32_t>(4)), c.valid ? 0 : -3) << c.index;
    if (!c.valid) {
      EXPECT_EQ(as<int32_t>(read_parameter(s.get(), c.index)), 1234) << c.index;
      EXPECT_TRUE(rest_is_zero(read_parameter(s.get(), c.index), 4));
      EXPECT_EQ(parameter_type(s.get(), c.index), '?');
      EXPECT_EQ(read_parameter_index(s.get(), c.index), -1);
    }
  }
  EXPECT_EQ(parameter_type(s.get(), 2), 'S');
  EXPECT_EQ(as<int32_t>(read_parameter(s.get(), 0)), 4);
  EXPECT_TRUE(headless::shown().empty());
  EXPECT_EQ(errmsg_to_screen, 1);
  const std::string l = log();
  EXPECT_NE(l.find("W PARMST_PIDNTFND set_parameter: parameter index -1 not found"), std::string::npos);
  EXPECT_NE(l.find("W PARMST_PIDNTFND read_parameter: parameter index 3 not found"), std::string::npos);
  EXPECT_NE(l.find("W PARMST_PIDNTFND read_parameter_index: parameter index 65536 not found"), std::string::npos);
  EXPECT_EQ(parameter_type(nullptr, 0), '?');
}

TEST_F(Store, ScreenStaysOffWhenItWasOff) {
  Set s = make({row('I', 0, 9)});
  errmsg_to_screen = 0;
  set_parameter(s.get(), 5, pv<int32_t>(1));
  EXPECT_EQ(errmsg_to_screen, 0);
}

TEST_F(Store, LetterIsUpperCasedAndAnUnknownOneIsReported) {
  Set s = make({row('i', 0, 100), row('Q', 0, 1, 1)});
  EXPECT_EQ(s->built, 1);
  EXPECT_EQ(parameter_type(s.get(), 0), 'I');
  set_parameter(s.get(), 0, pv<int32_t>(150));
  EXPECT_EQ(as<int32_t>(read_parameter(s.get(), 0)), 100);
  EXPECT_EQ(parameter_type(s.get(), 1), 'Q');
  EXPECT_EQ(set_parameter(s.get(), 1, pv<int32_t>(7)), 0);
  EXPECT_EQ(as<int32_t>(read_parameter(s.get(), 1)), 0);  // stores nothing
  EXPECT_NE(log().find("W PARMST_WRGPTYPE Wrong parameter type 'Q' at index 1"), std::string::npos);
  EXPECT_TRUE(headless::shown().empty());
}

TEST_F(Store, DiscreteListLengths) {
  struct Case {
    double max;
    const DiscreteValueRow *lists;
    int result;
    const char *report;
  } cases[] = {
      {14, kLists, 0, nullptr},
      {14.9, kLists, 0, nullptr},
      {15, kLists, -4, "W PARMST_TL_DLIST Discrete list of parameter 1 too long"},
      {1e12, kLists, -4, "PARMST_TL_DLIST"},
      {-1, kLists, -5, "W PARMST_NO_DLIST Discrete parameter 1 has no list of values"},
      {3, nullptr, -5, "W PARMST_NO_DLIST Discrete parameter 1 has no list of values"},
  };
  for (const Case &c : cases) {
    clear_log();
    const ParameterDescriptor rows[] = {row('I', 0, 1), row('I', 0, c.max, 0, 5)};
    Set s(create_parameter_set(nullptr, "x", rows, nullptr, c.lists, 2));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->built, c.result == 0 ? 1 : 0) << c.max;
    EXPECT_EQ(read_parameter_set(s.get(), rows, "x", nullptr, c.lists), c.result) << c.max;
    if (c.report) {
      EXPECT_NE(log().find(c.report), std::string::npos) << log();
    }
    if (c.result == 0) {
      EXPECT_EQ(set_parameter_index(s.get(), 1, 14), 0);
      EXPECT_EQ(as<int32_t>(read_parameter(s.get(), 1)), 14);
    }
  }
  EXPECT_TRUE(headless::shown().empty());
}

TEST_F(Store, DiscreteValueLookup) {
  Set s = make({row('I', 0, 4, 0, 1), row('F', 0, 1, 0, 2), row('C', 0, 2, 0, 3), row('U', 0, 1, 0, 4),
                row('B', 0, 2, 0, 0), row('I', 0, 10)});
  ASSERT_EQ(s->built, 1);
  EXPECT_EQ(read_parameter_index(s.get(), 0), 1);  // the list number until the first set

  EXPECT_EQ(set_parameter(s.get(), 0, pv<int32_t>(30)), 0);
  EXPECT_EQ(read_parameter_index(s.get(), 0), 2);
  // Not in the list: stored all the same, the position stays.
  EXPECT_EQ(set_parameter(s.get(), 0, pv<int32_t>(35)), -1);
  EXPECT_EQ(as<int32_t>(read_parameter(s.get(), 0)), 35);
  EXPECT_EQ(read_parameter_index(s.get(), 0), 2);
  EXPECT_NE(log().find("W PARMST_INVPMVAL Value of parameter 0 not in its list (set_parameter)"), std::string::npos);

  EXPECT_EQ(set_parameter(s.get(), 1, pv(0.2f)), 0);  // exact float compare
  EXPECT_EQ(read_parameter_index(s.get(), 1), 1);
  EXPECT_EQ(set_parameter(s.get(), 1, pv(0.2000001f)), -1);
  EXPECT_EQ(set_parameter(s.get(), 2, pv('B')), 0);
  EXPECT_EQ(read_parameter_index(s.get(), 2), 1);
  EXPECT_EQ(set_parameter(s.get(), 3, pv<uint32_t>(3000000000u)), 0);  // U searched as 32 bits
  EXPECT_EQ(read_parameter_index(s.get(), 3), 1);

  // B has no lookup: refused and not stored.
  EXPECT_EQ(set_parameter(s.get(), 4, pv<int32_t>(2)), -1);
  EXPECT_EQ(as<int32_t>(read_parameter(s.get(), 4)), 0);
  EXPECT_TRUE(headless::shown().empty());
}

TEST_F(Store, FamilyLookupsKeepToTheirLetter) {
  struct Case {
    char letter;
    int (*find)(ParameterSet *, int, int32_t);
  } cases[] = {
      {'I', [](ParameterSet *s, int i, int32_t v) { return i_discrete_index(s, i, v); }},
      {'H', [](ParameterSet *s, int i, int32_t v) { return h_discrete_index(s, i, static_cast<int16_t>(v)); }},
      {'G', [](ParameterSet *s, int i, int32_t v) { return g_discrete_index(s, i, static_cast<uint16_t>(v)); }},
      {'L', [](ParameterSet *s, int i, int32_t v) { return l_discrete_index(s, i, v); }},
      {'M', [](ParameterSet *s, int i, int32_t v) { return m_discrete_index(s, i, static_cast<uint32_t>(v)); }},
      {'F', [](ParameterSet *s, int i, int32_t v) { return f_discrete_index(s, i, static_cast<float>(v)); }},
      {'C', [](ParameterSet *s, int i, int32_t v) { return c_discrete_index(s, i, static_cast<char>(v)); }},
  };
  for (const Case &list_of : cases) {
    Set s = make({row(list_of.letter, 0, 2, 0, 0), row(list_of.letter, 0, 9)});
    for (const Case &fn : cases) {
      const int expected = fn.letter == list_of.letter ? 2 : -1;
      EXPECT_EQ(fn.find(s.get(), 0, 3), expected) << list_of.letter << " by " << fn.letter;
    }
    EXPECT_EQ(list_of.find(s.get(), 0, 4), -1);  // not in the list
    EXPECT_EQ(list_of.find(s.get(), 1, 3), -1);  // continuous
    EXPECT_EQ(list_of.find(s.get(), 2, 3), -1);  // out of range
  }
  Set u = make({row('U', 0, 2, 0, 0)});
  EXPECT_EQ(i_discrete_index(u.get(), 0, 3), -1);
}

TEST_F(Store, SelectingAListPosition) {
  Set s = make({row('I', 0, 4, 0, 1), row('I', 0, 9)});
  struct Case {
    int position, selected;
    int32_t value;
  } cases[] = {{20, 4, 50}, {-3, 0, 10}, {2, 2, 30}};
  for (const Case &c : cases) {
    EXPECT_EQ(set_parameter_index(s.get(), 0, c.position), 0);
    EXPECT_EQ(read_parameter_index(s.get(), 0), c.selected);
    EXPECT_EQ(as<int32_t>(read_parameter(s.get(), 0)), c.value);
  }
  EXPECT_EQ(set_parameter_index(s.get(), 1, 0), -1);  // continuous
  EXPECT_EQ(set_parameter_index(s.get(), 2, 0), -1);
  EXPECT_NE(log().find("W PARMST_PIDNTFND set_parameter_index: parameter index 1 not found"), std::string::npos);
  EXPECT_TRUE(headless::shown().empty());
}

TEST_F(Store, TextsAreCopiedBoundedAndTheCallersTableIsLeftAlone) {
  char serial[] = "serial";
  char other[] = "Other text";
  const char *const texts[] = {serial, other};
  Set s = make({row('S', 0, 0, 1), row('S', 0, 0, 0)}, texts);
  EXPECT_STREQ(read_parameter(s.get(), 0).data, "OTHER TEXT");
  EXPECT_STREQ(other, "Other text");

  // A table of literals (read-only memory) builds too.
  const char *const literals[] = {"abc"};
  Set lit = make({row('S', 0, 0, 0), row('S', 0, 0, -1)}, literals);
  EXPECT_STREQ(read_parameter(lit.get(), 0).data, "ABC");
  EXPECT_STREQ(read_parameter(lit.get(), 1).data, "");  // no such entry
  Set none = make({row('S', 0, 0, 0)}, nullptr);
  EXPECT_STREQ(read_parameter(none.get(), 0).data, "");

  // A value buffer without any NUL gives 255 characters.
  ParameterValue full;
  std::memset(full.data, 'a', sizeof full.data);
  EXPECT_EQ(set_parameter(s.get(), 1, full), 0);
  const ParameterValue v = read_parameter(s.get(), 1);
  EXPECT_EQ(std::string(v.data), std::string(255, 'a'));
  EXPECT_EQ(v.data[255], '\0');
  EXPECT_EQ(set_parameter(s.get(), 1, text_value("lower kept")), 0);
  EXPECT_STREQ(read_parameter(s.get(), 1).data, "lower kept");
}

// The allocations of this set, in order: set, array, 3 records, text, list.
constexpr int kAllocationsOfMixedSet = 7;

TEST_F(Store, FailedAllocationLeavesTheSetUnbuilt) {
  const char *const texts[] = {"abc"};
  for (int nth = 1; nth <= kAllocationsOfMixedSet + 1; ++nth) {
    headless::clear();
    clear_log();
    parmst_testing::fail_allocation(nth);
    Set s = make({row('I', 0, 9, 3), row('S', 0, 0, 0), row('I', 0, 2, 0, 0)}, texts);
    parmst_testing::fail_allocation(0);
    if (nth == 1) {
      EXPECT_EQ(s, nullptr);
      continue;
    }
    ASSERT_NE(s, nullptr);
    const bool fails = nth <= kAllocationsOfMixedSet;
    EXPECT_EQ(s->built, fails ? 0 : 1) << nth;
    if (fails) {
      // Reported with the flags as they stand: shown and logged.
      ASSERT_EQ(headless::shown().size(), 1u) << nth;
      EXPECT_EQ(headless::shown()[0].message,
                "     E PARMST_MEM_ALLOC Memory allocation failed for parameter set module_parameters");
      EXPECT_NE(log().find("PARMST_MEM_ALLOC"), std::string::npos);
    }
    // An unbuilt set is still safe to touch and to delete.
    for (int i = 0; i < 3; ++i) {
      read_parameter(s.get(), i);
      set_parameter(s.get(), i, pv<int32_t>(1));
      set_parameter_index(s.get(), i, 1);
    }
  }
}

TEST_F(Store, DuplicateIsADeepCopy) {
  const char *const texts[] = {"abc"};
  Set src = make({row('I', 0, 9, 3), row('S', 0, 0, 0), row('I', 0, 4, 0, 1)}, texts);
  set_parameter(src.get(), 1, text_value("hello"));
  set_parameter_index(src.get(), 2, 1);
  Set copy(duplicate_parameter_set(nullptr, src.get()));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->built, 1);
  EXPECT_EQ(copy->count, 3);

  set_parameter(copy.get(), 1, text_value("world"));
  set_parameter_index(copy.get(), 2, 3);
  EXPECT_STREQ(read_parameter(src.get(), 1).data, "hello");
  EXPECT_EQ(read_parameter_index(src.get(), 2), 1);
  EXPECT_EQ(as<int32_t>(read_parameter(src.get(), 2)), 20);

  src.reset();  // the copy owns nothing of the source's
  EXPECT_STREQ(read_parameter(copy.get(), 1).data, "world");
  EXPECT_EQ(as<int32_t>(read_parameter(copy.get(), 2)), 40);
  EXPECT_EQ(as<int32_t>(read_parameter(copy.get(), 0)), 3);
  EXPECT_EQ(duplicate_parameter_set(nullptr, nullptr), nullptr);
}

TEST_F(Store, FailedDuplicateIsUnbuiltAndSafeToDelete) {
  const char *const texts[] = {"abc"};
  Set src = make({row('I', 0, 9, 3), row('S', 0, 0, 0), row('I', 0, 2, 0, 0)}, texts);
  for (int nth = 1; nth <= kAllocationsOfMixedSet + 1; ++nth) {
    clear_log();
    parmst_testing::fail_allocation(nth);
    Set copy(duplicate_parameter_set(nullptr, src.get()));
    parmst_testing::fail_allocation(0);
    if (nth == 1) {
      EXPECT_EQ(copy, nullptr);
      continue;
    }
    ASSERT_NE(copy, nullptr);
    const bool fails = nth <= kAllocationsOfMixedSet;
    EXPECT_EQ(copy->built, fails ? 0 : 1) << nth;
    if (fails) {
      EXPECT_NE(log().find("PARMST_MEM_ALLOC Memory allocation failed for parameter set duplicate_parameter_set"),
                std::string::npos);
    }
  }
  EXPECT_STREQ(read_parameter(src.get(), 1).data, "ABC");

  // A copy of an unbuilt set is unbuilt too.
  const ParameterDescriptor bad[] = {row('I', 0, 20, 0, 0)};
  Set unbuilt(create_parameter_set(nullptr, "x", bad, nullptr, kLists, 1));
  Set copy(duplicate_parameter_set(nullptr, unbuilt.get()));
  EXPECT_EQ(copy->built, 0);
}

TEST_F(Store, ReadingASetAgainReplacesItsRecords) {
  const char *const texts[] = {"one", "two"};
  const ParameterDescriptor first[] = {row('S', 0, 0, 0), row('I', 0, 2, 0, 0)};
  const ParameterDescriptor second[] = {row('I', 0, 5, 2), row('S', 0, 0, 1)};
  Set s(create_parameter_set(nullptr, "x", first, texts, kLists, 2));
  ASSERT_EQ(s->built, 1);
  EXPECT_EQ(read_parameter_set(s.get(), second, "x", texts, kLists), 0);
  EXPECT_EQ(as<int32_t>(read_parameter(s.get(), 0)), 2);
  EXPECT_STREQ(read_parameter(s.get(), 1).data, "TWO");
  EXPECT_EQ(read_parameter_set(nullptr, second, "x", texts, kLists), -1);
  EXPECT_EQ(read_parameter_set(s.get(), nullptr, "x", texts, kLists), -1);
  EXPECT_EQ(s->built, 0);
}

TEST_F(Store, EmptyAndNegativeCounts) {
  Set empty(create_parameter_set(nullptr, "x", nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(empty->built, 1);
  EXPECT_EQ(set_parameter(empty.get(), 0, pv<int32_t>(1)), -3);
  Set negative(create_parameter_set(nullptr, "x", nullptr, nullptr, nullptr, -2));
  EXPECT_EQ(negative->built, 0);
  EXPECT_EQ(negative->count, 0);
}

}  // namespace
