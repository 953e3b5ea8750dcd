#include "support/Parmst.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "support/Qv_err.h"

namespace {

constexpr size_t kTextSize = 256;
constexpr int kMaxListPosition = 14;  // a list holds at most 15 entries

int allocations_until_failure = 0;

// Zeroed memory for the store; records start zeroed so that a set left
// incomplete frees no stray pointer.
template <class T>
T *alloc_zeroed(size_t n = 1) {
  if (allocations_until_failure > 0 && --allocations_until_failure == 0) return nullptr;
  return static_cast<T *>(std::calloc(n > 0 ? n : 1, sizeof(T)));
}

// The store's own reports of bad use go to the log only, not to the screen.
class ScreenOff {
 public:
  ScreenOff() : was_on_(errmsg_to_screen != 0) {
    if (was_on_) errmsg_to_screen = 0;
  }
  ~ScreenOff() {
    if (was_on_) errmsg_to_screen = 1;
  }
  ScreenOff(const ScreenOff &) = delete;
  ScreenOff &operator=(const ScreenOff &) = delete;

 private:
  bool was_on_;
};

template <class T>
void put(ParameterSlot &slot, T v) {
  static_assert(sizeof(T) <= sizeof(ParameterSlot));
  std::memset(slot, 0, sizeof slot);
  std::memcpy(slot, &v, sizeof v);
}

template <class T>
T get(const void *p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Truncation toward zero, saturated at the type's range (NaN gives 0).
template <class T>
T to_integer(double d) {
  if (std::isnan(d)) return 0;
  if (d <= static_cast<double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
  if (d >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  return static_cast<T>(d);
}

float to_float(double d) {
  if (d > FLT_MAX) return FLT_MAX;
  if (d < -FLT_MAX) return -FLT_MAX;
  return static_cast<float>(d);
}

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool is_discrete(const ParameterRecord *r) { return r->discrete >= 0; }
bool has_text(const ParameterRecord *r) { return r->type == 'S' && !is_discrete(r); }
char *text_of(const ParameterRecord *r) { return get<char *>(r->value); }
int last_position(const ParameterRecord *r) { return get<int32_t>(r->max); }

ParameterRecord *record_at(const ParameterSet *set, int index) {
  if (set == nullptr || set->records == nullptr || index < 0 || index >= set->count) return nullptr;
  return set->records[index];
}

void release_owned(ParameterRecord *r) {
  std::free(r->list);
  r->list = nullptr;
  if (has_text(r)) {
    std::free(text_of(r));
    put<char *>(r->value, nullptr);
  }
}

// One value of the given letter converted from double into a slot.
bool convert_into(ParameterSlot &slot, char type, double d) {
  switch (type) {
    case 'B':
    case 'I':
    case 'L': put(slot, to_integer<int32_t>(d)); return true;
    case 'C': put(slot, to_integer<char>(d)); return true;
    case 'D': put(slot, d); return true;
    case 'F': put(slot, to_float(d)); return true;
    case 'G': put(slot, to_integer<uint16_t>(d)); return true;
    case 'H': put(slot, to_integer<int16_t>(d)); return true;
    case 'M':
    case 'U': put(slot, to_integer<uint32_t>(d)); return true;
    default: return false;
  }
}

int build_continuous(ParameterRecord *r, const ParameterDescriptor &row, const char *name,
                     const char *const *texts, int index) {
  if (r->type == 'S') {
    char *text = alloc_zeroed<char>(kTextSize);
    if (text == nullptr) {
      error("PARMST_MEM_ALLOC", name);
      return -3;
    }
    // The default names an entry of the text table; the stored default is
    // upper-cased, the table itself is left alone.
    const int32_t which = to_integer<int32_t>(row.def);
    const char *src = (texts != nullptr && which >= 0) ? texts[which] : nullptr;
    for (size_t i = 0; src != nullptr && src[i] != '\0' && i + 1 < kTextSize; ++i) text[i] = upper(src[i]);
    put<char *>(r->value, text);
    return 0;
  }
  if (!convert_into(r->min, r->type, row.min)) {
    ScreenOff quiet;
    error("PARMST_WRGPTYPE", r->type, index);
    return 0;
  }
  convert_into(r->max, r->type, row.max);
  convert_into(r->value, r->type, row.def);
  return 0;
}

int build_discrete(ParameterRecord *r, const ParameterDescriptor &row, const char *name,
                   const DiscreteValueRow *discrete, int index) {
  const int32_t last = to_integer<int32_t>(row.max);
  put(r->min, to_integer<int32_t>(row.min));
  put(r->max, last);
  put(r->value, to_integer<int32_t>(row.def));
  if (last > kMaxListPosition) {
    ScreenOff quiet;
    error("PARMST_TL_DLIST", index);
    return -4;
  }
  if (last < 0 || discrete == nullptr) {
    ScreenOff quiet;
    error("PARMST_NO_DLIST", index);
    return -5;
  }
  r->list = alloc_zeroed<ParameterSlot>(static_cast<size_t>(last) + 1);
  if (r->list == nullptr) {
    error("PARMST_MEM_ALLOC", name);
    return -3;
  }
  const float *values = discrete[row.discrete];
  for (int32_t j = 0; j <= last; ++j) convert_into(r->list[j], r->type, values[j]);
  return 0;
}

template <class T>
int find_in_list(const ParameterRecord *r, T value) {
  if (r == nullptr || !is_discrete(r) || r->list == nullptr) return -1;
  for (int j = 0; j <= last_position(r); ++j) {
    if (get<T>(r->list[j]) == value) return j;
  }
  return -1;
}

template <class T>
int family_index(ParameterSet *set, int index, char letter, T value) {
  const ParameterRecord *r = record_at(set, index);
  if (r == nullptr || r->type != letter) return -1;
  return find_in_list(r, value);
}

template <class T>
T limited(T v, T lo, T hi) {
  if (v < lo) return lo;
  if (v > hi) return hi;
  return v;
}

template <class T>
void store_limited(ParameterRecord *r, const char *data) {
  put(r->value, limited(get<T>(data), get<T>(r->min), get<T>(r->max)));
}

void set_continuous(ParameterRecord *r, const ParameterValue &v) {
  switch (r->type) {
    case 'B': {
      const int32_t x = get<int32_t>(v.data);
      const int32_t hi = get<int32_t>(r->max);
      put(r->value, x < 0 ? 0 : x > hi ? hi : x);
      break;
    }
    case 'C': put(r->value, v.data[0]); break;
    case 'D': store_limited<double>(r, v.data); break;
    case 'F': store_limited<float>(r, v.data); break;
    case 'G': store_limited<uint16_t>(r, v.data); break;
    case 'H': store_limited<int16_t>(r, v.data); break;
    case 'I':
    case 'L': store_limited<int32_t>(r, v.data); break;
    case 'M':
    case 'U': store_limited<uint32_t>(r, v.data); break;
    case 'S':
      // The buffer need not hold a NUL: at most 255 characters are taken.
      if (char *text = text_of(r)) {
        const size_t n = strnlen(v.data, kTextSize - 1);
        std::memcpy(text, v.data, n);
        text[n] = '\0';
      }
      break;
    default: break;
  }
}

template <class T>
int set_discrete_as(ParameterRecord *r, const ParameterValue &v) {
  const T x = get<T>(v.data);
  put(r->value, x);
  return find_in_list(r, x);
}

}  // namespace

namespace parmst_testing {
void fail_allocation(int nth) { allocations_until_failure = nth > 0 ? nth : 0; }
}  // namespace parmst_testing

ParameterSet *create_parameter_set(void *reserved, const char *name, const ParameterDescriptor *rows,
                                   const char *const *texts, const DiscreteValueRow *discrete, int16_t count) {
  if (name == nullptr) name = "";
  ParameterSet *set = alloc_zeroed<ParameterSet>();
  if (set == nullptr) return nullptr;
  set->built = 0;
  set->count = count < 0 ? 0 : count;
  if (count < 0) return set;
  if (count > 0) {
    set->records = alloc_zeroed<ParameterRecord *>(static_cast<size_t>(count));
    if (set->records == nullptr) {
      error("PARMST_MEM_ALLOC", name);
      return set;
    }
    for (int i = 0; i < count; ++i) {
      set->records[i] = alloc_zeroed<ParameterRecord>();
      if (set->records[i] == nullptr) {
        error("PARMST_MEM_ALLOC", name);
        return set;
      }
    }
  }
  read_parameter_set(set, rows, name, texts, discrete);
  return set;
}

int read_parameter_set(ParameterSet *set, const ParameterDescriptor *rows, const char *name,
                       const char *const *texts, const DiscreteValueRow *discrete) {
  if (set == nullptr) return -1;
  set->built = 0;
  if (set->count > 0 && (rows == nullptr || set->records == nullptr)) return -1;
  if (name == nullptr) name = "";
  for (int i = 0; i < set->count; ++i) {
    ParameterRecord *r = set->records[i];
    if (r == nullptr) return -3;
    release_owned(r);
    std::memset(r, 0, sizeof *r);
    const ParameterDescriptor &row = rows[i];
    r->index = static_cast<int16_t>(i);
    r->type = upper(row.type);
    r->discrete = row.discrete;
    const int result = is_discrete(r) ? build_discrete(r, row, name, discrete, i)
                                      : build_continuous(r, row, name, texts, i);
    if (result != 0) return result;
  }
  set->built = 1;
  return 0;
}

ParameterSet *duplicate_parameter_set(void *reserved, const ParameterSet *source) {
  if (source == nullptr) return nullptr;
  ParameterSet *set = alloc_zeroed<ParameterSet>();
  if (set == nullptr) return nullptr;
  set->built = 0;
  set->count = source->count;
  if (set->count <= 0) {
    set->built = source->built;
    return set;
  }
  set->records = alloc_zeroed<ParameterRecord *>(static_cast<size_t>(set->count));
  if (set->records == nullptr) {
    error("PARMST_MEM_ALLOC", "duplicate_parameter_set");
    return set;
  }
  bool complete = source->built == 1 && source->records != nullptr;
  for (int i = 0; i < set->count; ++i) {
    const ParameterRecord *src = source->records != nullptr ? source->records[i] : nullptr;
    if (src == nullptr) {
      complete = false;
      continue;
    }
    ParameterRecord *r = alloc_zeroed<ParameterRecord>();
    if (r == nullptr) {
      error("PARMST_MEM_ALLOC", "duplicate_parameter_set");
      return set;
    }
    std::memcpy(r, src, sizeof *r);
    // Nothing of the source's may be owned twice.
    r->list = nullptr;
    if (has_text(r)) put<char *>(r->value, nullptr);
    set->records[i] = r;

    if (src->list != nullptr) {
      const size_t n = static_cast<size_t>(last_position(src)) + 1;
      r->list = alloc_zeroed<ParameterSlot>(n);
      if (r->list == nullptr) {
        error("PARMST_MEM_ALLOC", "duplicate_parameter_set");
        return set;
      }
      std::memcpy(r->list, src->list, n * sizeof(ParameterSlot));
    }
    if (has_text(src) && text_of(src) != nullptr) {
      char *text = alloc_zeroed<char>(kTextSize);
      if (text == nullptr) {
        error("PARMST_MEM_ALLOC", "duplicate_parameter_set");
        return set;
      }
      std::memcpy(text, text_of(src), kTextSize);
      text[kTextSize - 1] = '\0';
      put<char *>(r->value, text);
    }
  }
  set->built = complete ? 1 : 0;
  return set;
}

void delete_parameter_set(ParameterSet *set) {
  if (set == nullptr) return;
  if (set->records != nullptr) {
    for (int i = 0; i < set->count; ++i) {
      if (ParameterRecord *r = set->records[i]) {
        release_owned(r);
        std::free(r);
      }
    }
    std::free(set->records);
  }
  std::free(set);
}

int set_parameter(ParameterSet *set, int index, ParameterValue value) {
  ParameterRecord *r = record_at(set, index);
  if (r == nullptr) {
    ScreenOff quiet;
    error("PARMST_PIDNTFND", "set_parameter", index);
    return -3;
  }
  if (!is_discrete(r)) {
    set_continuous(r, value);
    return 0;
  }
  int found = -1;
  switch (r->type) {
    case 'C': found = set_discrete_as<char>(r, value); break;
    case 'F': found = set_discrete_as<float>(r, value); break;
    case 'G': found = set_discrete_as<uint16_t>(r, value); break;
    case 'H': found = set_discrete_as<int16_t>(r, value); break;
    case 'I':
    case 'L':
    case 'U': found = set_discrete_as<int32_t>(r, value); break;
    case 'M': found = set_discrete_as<uint32_t>(r, value); break;
    default: break;  // B, D and S have no value lookup
  }
  if (found < 0) {
    ScreenOff quiet;
    error("PARMST_INVPMVAL", index, "set_parameter");
    return -1;
  }
  r->discrete = static_cast<int16_t>(found);
  return 0;
}

int set_parameter_index(ParameterSet *set, int index, int position) {
  ParameterRecord *r = record_at(set, index);
  if (r == nullptr || !is_discrete(r) || r->list == nullptr) {
    ScreenOff quiet;
    error("PARMST_PIDNTFND", "set_parameter_index", index);
    return -1;
  }
  const int p = limited(position, 0, last_position(r));
  r->discrete = static_cast<int16_t>(p);
  std::memcpy(r->value, r->list[p], sizeof(ParameterSlot));
  return 0;
}

ParameterValue read_parameter(ParameterSet *set, int index) {
  ParameterValue v{};
  const ParameterRecord *r = record_at(set, index);
  if (r == nullptr) {
    {
      ScreenOff quiet;
      error("PARMST_PIDNTFND", "read_parameter", index);
    }
    const int32_t marker = 1234;
    std::memcpy(v.data, &marker, sizeof marker);
    return v;
  }
  size_t n = 4;
  switch (r->type) {
    case 'C': n = 1; break;
    case 'D': n = 8; break;
    case 'G':
    case 'H': n = 2; break;
    case 'S':
      if (has_text(r)) {
        if (const char *text = text_of(r)) std::memcpy(v.data, text, strnlen(text, kTextSize - 1));
        return v;
      }
      break;
    default: break;
  }
  std::memcpy(v.data, r->value, n);
  return v;
}

int read_parameter_index(ParameterSet *set, int index) {
  const ParameterRecord *r = record_at(set, index);
  if (r == nullptr) {
    ScreenOff quiet;
    error("PARMST_PIDNTFND", "read_parameter_index", index);
    return -1;
  }
  return r->discrete;
}

char parameter_type(ParameterSet *set, int index) {
  const ParameterRecord *r = record_at(set, index);
  return r != nullptr ? r->type : '?';
}

int i_discrete_index(ParameterSet *set, int index, int32_t value) { return family_index(set, index, 'I', value); }
int h_discrete_index(ParameterSet *set, int index, int16_t value) { return family_index(set, index, 'H', value); }
int g_discrete_index(ParameterSet *set, int index, uint16_t value) { return family_index(set, index, 'G', value); }
int l_discrete_index(ParameterSet *set, int index, int32_t value) { return family_index(set, index, 'L', value); }
int m_discrete_index(ParameterSet *set, int index, uint32_t value) { return family_index(set, index, 'M', value); }
int f_discrete_index(ParameterSet *set, int index, float value) { return family_index(set, index, 'F', value); }
int c_discrete_index(ParameterSet *set, int index, char value) { return family_index(set, index, 'C', value); }
