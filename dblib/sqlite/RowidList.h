// The rowids of the rows a scrolling cursor has passed, by position, in little memory.
//
// A cursor finds a row it has passed again by its rowid, so it keeps one per row: for a read of
// ten million rows a plain array would hold 80 MB for as long as the cursor is open. Most results
// come in rowid order (a table read whole or by its integer key), where each rowid is one more
// than the one before. The list is cut into chunks of kChunk rows; a chunk whose rowids run on
// like that keeps only its first one, any other chunk keeps them all. A read in rowid order
// costs a few bytes per chunk; a result in any other order costs what the plain array did.
// Deleting and changing a row (positioned DELETE and UPDATE of an integer key) are rare and
// cost a pass over the chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dbl {

class RowidList {
 public:
  static constexpr size_t kChunk = 4096;

  size_t size() const { return chunks_.empty() ? 0 : chunks_.back().end; }
  // The rowid at index i (0-based, i < size()).
  int64_t operator[](size_t i) const;
  void push_back(int64_t rowid);
  void set(size_t i, int64_t rowid);
  void erase(size_t i);
  void clear() { chunks_.clear(); }
  // Bytes held, for the memory benchmark and its test.
  size_t MemoryBytes() const;

 private:
  struct Chunk {
    int64_t first = 0;         // rowid of the chunk's first row while ids is empty
    size_t end = 0;            // index one past the chunk's last row in the whole list
    size_t count = 0;          // rows in the chunk
    std::vector<int64_t> ids;  // every rowid, once they no longer run on from first
    int64_t At(size_t k) const { return ids.empty() ? first + static_cast<int64_t>(k) : ids[k]; }
    void Spell();  // from "first and count" to every rowid
  };
  // The chunk holding index i and i's offset in it.
  size_t Find(size_t i, size_t& offset) const;

  std::vector<Chunk> chunks_;
};

}  // namespace dbl
