#include "zip/records/EntryList.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "zip/common/DosDateTime.h"
#include "zip/ZipExceptions.h"
#include "zip/common/ZipText.h"

namespace kvelv {

namespace {

int64_t DateKey(const ZipHeaderInfo& e) {
  int64_t t = 0;
  if (!UnixFromDosDateTime(NormalizeDosDateTime(e.DateTime()), t)) t = 0;
  return t;
}

int Rate(const ZipHeaderInfo& e) {
  const uint64_t u = e.UncompressedSize();
  if (u == 0) return 0;
  const long double r = static_cast<long double>(e.CompressedSize()) * 100.0L / u;
  const int rounded = static_cast<int>(r + 0.5L);
  return rounded > 100 ? 100 : rounded;
}

// Descending, and an equal pair keeps its physical order (the first argument sorts first).
template <typename T>
int LargestFirst(T a, T b) {
  return a > b ? -1 : (a < b ? 1 : -1);
}

}  // namespace

int CompareEntries(ZipSortMode mode, const ZipHeaderInfo& a, const ZipHeaderInfo& b) {
  switch (mode) {
    case ZipSortMode::ByName:
      return CompareTextAscii(a.FullName(), b.FullName());
    case ZipSortMode::ByFileName:
      return CompareTextAscii(a.FileName(), b.FileName());
    case ZipSortMode::ByDirectoryName:
      return CompareTextAscii(a.Directory(), b.Directory());
    case ZipSortMode::ByDate:
      return LargestFirst(DateKey(a), DateKey(b));
    case ZipSortMode::ByCompressedSize:
      return LargestFirst(static_cast<uint32_t>(a.CompressedSize()),
                          static_cast<uint32_t>(b.CompressedSize()));
    case ZipSortMode::ByUnCompressedSize:
      return LargestFirst(static_cast<uint32_t>(a.UncompressedSize()),
                          static_cast<uint32_t>(b.UncompressedSize()));
    case ZipSortMode::ByRate: {
      const int ra = Rate(a);
      const int rb = Rate(b);
      return ra > rb ? -1 : (ra < rb ? 1 : 0);
    }
    case ZipSortMode::ByNone:
      break;
  }
  if (a.DiskNumberStart() != b.DiskNumberStart())
    return a.DiskNumberStart() < b.DiskNumberStart() ? -1 : 1;
  if (a.RelativeOffset() != b.RelativeOffset())
    return a.RelativeOffset() < b.RelativeOffset() ? -1 : 1;
  return 0;
}

EntryList::EntryList(ZipSortMode mode, DuplicatePolicy duplicates, EntryOwnership ownership)
    : mode_(mode), duplicates_(duplicates), owns_(ownership == EntryOwnership::Owns) {}

EntryList::~EntryList() { Clear(); }

int EntryList::Compare(const ZipHeaderInfo& a, const ZipHeaderInfo& b) const { return CompareEntries(mode_, a, b); }

bool EntryList::Find(const ZipHeaderInfo& key, int& index) const {
  // First place whose entry does not sort before the key.
  const auto it = std::lower_bound(items_.begin(), items_.end(), &key,
                                   [this](const ZipHeaderInfo* e, const ZipHeaderInfo* k) {
                                     return Compare(*e, *k) < 0;
                                   });
  index = static_cast<int>(it - items_.begin());
  return it != items_.end() && Compare(**it, key) == 0;
}

int EntryList::Add(ZipHeaderInfo* entry) {
  int index = 0;
  if (Find(*entry, index)) {
    if (duplicates_ == DuplicatePolicy::Ignore) return -1;
    if (duplicates_ == DuplicatePolicy::Refuse) throw EListError("Duplicate Object index");
  }
  items_.insert(items_.begin() + index, entry);
  if (entry->HasZip64()) hasZip64_ = true;
  return index;
}

int EntryList::Add(std::unique_ptr<ZipHeaderInfo> entry) {
  if (!owns_) throw std::logic_error("EntryList: handing an entry to a list that does not own");
  // On Ignore or Refuse the unique_ptr still holds the entry and frees it.
  const int index = Add(entry.get());
  if (index >= 0 && owns_) entry.release();
  return index;
}

void EntryList::Assign(std::vector<ZipHeaderInfo*> entries) {
  Clear();
  // Stable sort with a strict order: entries that never compare equal (date, size) keep their
  // order, as one-by-one insertion would.
  std::stable_sort(entries.begin(), entries.end(), [this](const ZipHeaderInfo* a, const ZipHeaderInfo* b) {
    return Compare(*a, *b) < 0 && Compare(*b, *a) >= 0;
  });
  bool duplicate = false;
  std::vector<ZipHeaderInfo*> result;
  result.reserve(entries.size());
  for (size_t i = 0; i < entries.size();) {
    size_t j = i + 1;
    while (j < entries.size() && Compare(*entries[i], *entries[j]) == 0) ++j;
    if (j - i > 1) duplicate = true;
    if (duplicates_ == DuplicatePolicy::Ignore) {
      result.push_back(entries[i]);
      if (owns_)
        for (size_t k = i + 1; k < j; ++k) delete entries[k];
    } else {
      // One by one, a new equal entry goes before the earlier ones: the run comes out reversed.
      for (size_t k = j; k > i; --k) result.push_back(entries[k - 1]);
    }
    i = j;
  }
  items_ = std::move(result);
  for (const ZipHeaderInfo* e : items_)
    if (e->HasZip64()) hasZip64_ = true;
  if (duplicate && duplicates_ == DuplicatePolicy::Refuse) throw EListError("Duplicate Object index");
}

ZipHeaderInfo* EntryList::Items(int index) const {
  if (index < 0 || index >= Count())
    throw EListError("Index " + std::to_string(index) + " is out of range");
  return items_[static_cast<size_t>(index)];
}

void EntryList::Put(int, ZipHeaderInfo*) { throw EListError("Cannot <Put> an Object in a sorted list!"); }

std::unique_ptr<ZipHeaderInfo> EntryList::Extract(int index) {
  ZipHeaderInfo* entry = Items(index);
  items_.erase(items_.begin() + index);
  return owns_ ? std::unique_ptr<ZipHeaderInfo>(entry) : nullptr;
}

void EntryList::Delete(int index) { Extract(index); }

void EntryList::Clear() {
  if (owns_)
    for (ZipHeaderInfo* e : items_) delete e;
  items_.clear();
}

void EntryList::Resort() {
  std::stable_sort(items_.begin(), items_.end(),
                   [this](const ZipHeaderInfo* a, const ZipHeaderInfo* b) {
                     // Date and size orders never call two entries equal; keep it strict here.
                     return Compare(*a, *b) < 0 && Compare(*b, *a) >= 0;
                   });
}

}  // namespace kvelv
