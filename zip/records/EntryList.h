#pragma once
// An ordered list of entries. The order (ZipSortMode) decides where an entry is inserted; a
// duplicate policy, fixed at creation, decides what happens to an entry equal to one already
// there. An owning list frees its entries.
#include <memory>
#include <vector>

#include "zip/records/ZipHeaderInfo.h"
#include "zip/common/ZipTypes.h"

namespace kvelv {

enum class DuplicatePolicy {
  Ignore,  // a second equal entry is silently not added
  Accept,  // equal entries are kept, a new one before the equal ones
  Refuse,  // adding an equal entry raises EListError "Duplicate Object index"
};

// Whether a list frees its entries (the reader's directory) or only points at entries another
// list owns (a sorted view).
enum class EntryOwnership { Owns, Views };

class EntryList {
 public:
  EntryList(ZipSortMode mode, DuplicatePolicy duplicates, EntryOwnership ownership);
  ~EntryList();
  EntryList(const EntryList&) = delete;
  EntryList& operator=(const EntryList&) = delete;

  ZipSortMode SortMode() const { return mode_; }
  DuplicatePolicy Duplicates() const { return duplicates_; }
  bool OwnsEntries() const { return owns_; }
  // Set once an entry with Zip64 values was added.
  bool HasZip64() const { return hasZip64_; }
  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }

  // Inserts at the place the order gives. Returns the index, or -1 when the Ignore policy
  // dropped it; throws EListError "Duplicate Object index" under Refuse. An owning list takes
  // the entry only when it was inserted; otherwise the caller still owns it.
  int Add(ZipHeaderInfo* entry);
  // For owning lists: like Add(), but an entry that is not inserted is freed.
  int Add(std::unique_ptr<ZipHeaderInfo> entry);

  // Replaces the content with `entries`, ordered as if they had been added one by one in their
  // order (in O(n log n), so a hostile directory cannot make loading quadratic). An owning list
  // takes all of them; under Refuse a duplicate raises EListError "Duplicate Object index"
  // afterwards (the entries stay in the list); under Ignore later duplicates are dropped (and
  // freed when owning).
  void Assign(std::vector<ZipHeaderInfo*> entries);

  // Finds an entry equal to `key` by bisection; `index` is its place or where it would go.
  bool Find(const ZipHeaderInfo& key, int& index) const;
  // Entry at `index`; EListError "Index %d is out of range" outside 0..Count()-1.
  ZipHeaderInfo* Items(int index) const;
  ZipHeaderInfo& operator[](int index) const { return *Items(index); }
  // Always raises EListError "Cannot <Put> an Object in a sorted list!".
  void Put(int index, ZipHeaderInfo* entry);

  // Removes the entry at `index` and hands it over (owning lists) or just drops it.
  std::unique_ptr<ZipHeaderInfo> Extract(int index);
  // Removes (and, when owning, frees) the entry at `index`.
  void Delete(int index);
  // Removes all entries, freeing them when owning.
  void Clear();
  // Room for `count` entries (callers cap it by what the file could hold).
  void Reserve(int count) { items_.reserve(count > 0 ? static_cast<size_t>(count) : 0); }
  // After a change of a key field of an entry already in the list: sorts again.
  void Resort();

  // <0, 0, >0 as `a` sorts before, with, after `b` in this list's order.
  int Compare(const ZipHeaderInfo& a, const ZipHeaderInfo& b) const;

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  ZipSortMode mode_;
  DuplicatePolicy duplicates_;
  bool owns_;
  bool hasZip64_ = false;
  std::vector<ZipHeaderInfo*> items_;
};

// The comparison of one sort mode, for callers that sort outside a list.
int CompareEntries(ZipSortMode mode, const ZipHeaderInfo& a, const ZipHeaderInfo& b);

}  // namespace kvelv
