#include "dblib/sqlite/RowidList.h"

#include <algorithm>

namespace dbl {

void RowidList::Chunk::Spell() {
  if (!ids.empty() || count == 0) return;
  ids.reserve(kChunk);  // a chunk never holds more, so spelling it never grows it twice
  for (size_t k = 0; k < count; ++k) ids.push_back(first + static_cast<int64_t>(k));
}

size_t RowidList::Find(size_t i, size_t& offset) const {
  auto it = std::upper_bound(chunks_.begin(), chunks_.end(), i, [](size_t v, const Chunk& c) { return v < c.end; });
  const size_t c = static_cast<size_t>(it - chunks_.begin());
  offset = i - (it->end - it->count);
  return c;
}

int64_t RowidList::operator[](size_t i) const {
  size_t offset = 0;
  return chunks_[Find(i, offset)].At(offset);
}

void RowidList::push_back(int64_t rowid) {
  if (chunks_.empty() || chunks_.back().count >= kChunk) {
    Chunk c;
    c.first = rowid;
    c.end = size();
    chunks_.push_back(std::move(c));
  }
  Chunk& c = chunks_.back();
  // Runs on from the chunk's first rowid: nothing to store (a rowid is at most 2^63 - 1, so
  // the one after it cannot wrap while count stays within the chunk).
  const bool runsOn = c.ids.empty() && (c.count == 0 || (c.first <= INT64_MAX - static_cast<int64_t>(c.count) &&
                                                          rowid == c.first + static_cast<int64_t>(c.count)));
  if (!runsOn) {
    c.Spell();
    c.ids.push_back(rowid);
  }
  ++c.count;
  ++c.end;
}

void RowidList::set(size_t i, int64_t rowid) {
  size_t offset = 0;
  Chunk& c = chunks_[Find(i, offset)];
  if (c.At(offset) == rowid) return;
  c.Spell();
  c.ids[offset] = rowid;
}

void RowidList::erase(size_t i) {
  size_t offset = 0;
  const size_t at = Find(i, offset);
  Chunk& c = chunks_[at];
  if (offset == 0 && c.ids.empty()) {
    ++c.first;  // the rest of a running chunk still runs on
  } else if (offset + 1 == c.count && c.ids.empty()) {
    // the last one of a running chunk: the others still run on
  } else {
    c.Spell();
    c.ids.erase(c.ids.begin() + static_cast<std::ptrdiff_t>(offset));
  }
  --c.count;
  for (size_t k = at; k < chunks_.size(); ++k) --chunks_[k].end;
  if (c.count == 0) chunks_.erase(chunks_.begin() + static_cast<std::ptrdiff_t>(at));
}

size_t RowidList::MemoryBytes() const {
  size_t n = chunks_.capacity() * sizeof(Chunk);
  for (const Chunk& c : chunks_) n += c.ids.capacity() * sizeof(int64_t);
  return n;
}

}  // namespace dbl
