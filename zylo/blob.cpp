// zylo: long values read as streams. A blob_reader reads its column's value of the current row
// from the server cursor one piece at a time (the statement's ReadBlobPiece) and holds nothing
// but the piece being read.
#include <algorithm>

#include "zylo/internal.h"

namespace zylo {
namespace detail {

int blob_reader::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  if (complete_) return traits_type::eof();
  // The istream turns this into its bad state (or rethrows it, when asked to).
  if (stmt_.row != row_) throw error("the row of this long value is no longer current", 0, "24000");
  bool complete = true;
  const int32_t n = guarded([&] {
    return stmt_.sql->ReadBlobPiece(stmt_.columns[static_cast<std::size_t>(column_)].index, offset_,
                                    reinterpret_cast<uint8_t*>(piece_), static_cast<int32_t>(sizeof piece_), complete);
  });
  if (n < 0) throw error("reading a long value failed", 0, "HY000");
  offset_ += n;
  complete_ = complete;
  if (n == 0) return traits_type::eof();
  setg(piece_, piece_, piece_ + n);
  return traits_type::to_int_type(*gptr());
}

namespace {

// The reader of a blob's column at the start of the blob's row's value; zylo::error when the row
// moved on.
blob_reader& reader_of(stmt* s, int column, std::uint64_t row) {
  if (!s || column < 0) throw error("the blob is empty", 0, "HY010");
  if (s->row != row) throw error("the row of this long value is no longer current", 0, "24000");
  if (s->readers.size() < s->columns.size()) s->readers.resize(s->columns.size());
  auto& r = s->readers[static_cast<std::size_t>(column)];
  if (!r) r = std::make_unique<blob_reader>(*s, column);
  r->reset(row);
  return *r;
}

}  // namespace
}  // namespace detail

std::istream& blob::stream() {
  detail::blob_reader& r = detail::reader_of(stmt_.get(), column_, row_);
  return r.in();
}

std::uint64_t blob::copy_to(std::ostream& out) {
  std::istream& in = detail::reader_of(stmt_.get(), column_, row_).in();
  in.exceptions(std::ios::badbit);  // a failed piece surfaces as the error it was
  std::uint64_t total = 0;
  char buffer[32765];
  try {
    while (in) {
      in.read(buffer, sizeof buffer);
      const std::streamsize n = in.gcount();
      if (n > 0) {
        out.write(buffer, n);
        total += static_cast<std::uint64_t>(n);
      }
    }
  } catch (...) {
    in.exceptions(std::ios::goodbit);
    throw;
  }
  in.exceptions(std::ios::goodbit);
  if (!out) throw error("writing a long value to the stream failed", 0, "HY000");
  return total;
}

bytes blob::read_bytes() {
  std::istream& in = detail::reader_of(stmt_.get(), column_, row_).in();
  in.exceptions(std::ios::badbit);
  bytes value;
  try {
    std::streambuf& buf = *in.rdbuf();
    for (int ch = buf.sgetc(); ch != std::char_traits<char>::eof(); ch = buf.snextc())
      value.push_back(static_cast<std::byte>(ch));
  } catch (...) {
    in.exceptions(std::ios::goodbit);
    throw;
  }
  in.exceptions(std::ios::goodbit);
  return value;
}

std::string blob::read_text() {
  std::istream& in = detail::reader_of(stmt_.get(), column_, row_).in();
  in.exceptions(std::ios::badbit);
  std::string text;
  try {
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } catch (...) {
    in.exceptions(std::ios::goodbit);
    throw;
  }
  in.exceptions(std::ios::goodbit);
  return text;
}

}  // namespace zylo
