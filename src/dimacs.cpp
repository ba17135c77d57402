// The DIMACS reader (a hand-written scanner over a refilled buffer, gzip decoded on the way) and
// the writer.
#include <nubrix/dimacs.hpp>

#include <zlib.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <istream>
#include <limits>
#include <memory>
#include <new>
#include <ostream>
#include <string_view>

namespace nubrix::dimacs {

namespace {

// Bytes read from the input at a time. Kept above glibc's 128 KiB mmap threshold: a buffer in the
// ordinary heap, among millions of small clause blocks, made reading measurably slower.
constexpr std::size_t chunk_size = std::size_t{1} << 18;
constexpr std::size_t max_token = 256;  // longer tokens are refused, never buffered
constexpr std::int64_t max_number = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t max_reserved_entries = std::int32_t{1} << 20;  // 16 MiB of clause references
// Constraints over up to this many literals become pairwise clauses, no more than the ladder's 3k - 4
// (10 against 11 at five); longer ones take the ladder, linear in their length.
constexpr std::size_t max_pairwise = 5;

std::string what_of(const std::string& file, std::int64_t line, const std::string& message) {
  return line > 0 ? file + ":" + std::to_string(line) + ": " + message : file + ": " + message;
}

// A failure of the input itself (read error, corrupt compression); the scanner adds the line.
struct input_failure {
  std::string message;
};

// The undecoded bytes: a stream or a C file.
class raw_input {
 public:
  explicit raw_input(std::istream& in) noexcept : stream_(&in) {}
  explicit raw_input(std::FILE* file) noexcept : file_(file) {}

  // Up to n bytes into out; 0 at the end of the input.
  std::size_t read(char* out, std::size_t n) {
    if (stream_ != nullptr) {
      stream_->read(out, static_cast<std::streamsize>(n));
      if (stream_->bad()) throw input_failure{"read error"};
      return static_cast<std::size_t>(stream_->gcount());
    }
    const std::size_t got = std::fread(out, 1, n, file_);
    if (got < n && std::ferror(file_)) throw input_failure{std::string("read error: ") + std::strerror(errno)};
    return got;
  }

 private:
  std::istream* stream_ = nullptr;
  std::FILE* file_ = nullptr;
};

// The decoded bytes: the raw input as it is, or inflated when it starts with the gzip magic bytes
// 1f 8b. Concatenated gzip members are read one after another, as gzip does.
class decoder {
 public:
  explicit decoder(raw_input raw) noexcept : raw_(raw) {}
  decoder(const decoder&) = delete;
  decoder& operator=(const decoder&) = delete;
  ~decoder() {
    if (inflating_) inflateEnd(&zs_);
  }

  // Up to n decoded bytes into out (n >= 2); 0 at the end of the input.
  std::size_t read(char* out, std::size_t n) {
    if (!started_) return start(out, n);
    if (!inflating_) return raw_.read(out, n);
    return inflate_into(out, n);
  }

 private:
  std::size_t start(char* out, std::size_t n) {
    started_ = true;
    const std::size_t got = raw_.read(out, n);
    if (got < 2 || static_cast<unsigned char>(out[0]) != 0x1f || static_cast<unsigned char>(out[1]) != 0x8b) {
      return got;
    }
    compressed_.reset(new char[chunk_size]);
    std::memcpy(compressed_.get(), out, got);
    zs_.next_in = reinterpret_cast<Bytef*>(compressed_.get());
    zs_.avail_in = static_cast<uInt>(got);
    const int status = inflateInit2(&zs_, 15 + 16);  // a 32 KiB window, gzip framing only
    if (status == Z_MEM_ERROR) throw std::bad_alloc();
    if (status != Z_OK) throw input_failure{"cannot start gzip decoding"};
    inflating_ = true;
    member_open_ = true;
    return inflate_into(out, n);
  }

  std::size_t inflate_into(char* out, std::size_t n) {
    for (;;) {
      if (zs_.avail_in == 0 && !raw_done_) {
        const std::size_t got = raw_.read(compressed_.get(), chunk_size);
        raw_done_ = got == 0;
        zs_.next_in = reinterpret_cast<Bytef*>(compressed_.get());
        zs_.avail_in = static_cast<uInt>(got);
      }
      if (zs_.avail_in == 0) {
        if (member_open_) throw input_failure{"gzip data ends early"};
        return 0;
      }
      if (!member_open_) {  // more bytes after a finished member: the next member
        if (inflateReset(&zs_) != Z_OK) throw input_failure{"cannot restart gzip decoding"};
        member_open_ = true;
      }
      zs_.next_out = reinterpret_cast<Bytef*>(out);
      zs_.avail_out = static_cast<uInt>(n);
      const int status = inflate(&zs_, Z_NO_FLUSH);
      const std::size_t produced = n - zs_.avail_out;
      switch (status) {
        case Z_STREAM_END:
          member_open_ = false;
          break;
        case Z_OK:
          break;
        case Z_BUF_ERROR:  // no progress possible: only sound when the input is drained
          if (zs_.avail_in != 0) throw input_failure{"corrupt gzip data"};
          break;
        case Z_MEM_ERROR:
          throw std::bad_alloc();
        default:
          throw input_failure{"corrupt gzip data"};
      }
      if (produced > 0) return produced;
    }
  }

  raw_input raw_;
  bool started_ = false;                // the first bytes have been looked at
  bool inflating_ = false;              // the input is gzip and zs_ is initialised
  bool member_open_ = false;            // a gzip member has begun and not yet ended
  bool raw_done_ = false;               // the raw input is exhausted
  std::unique_ptr<char[]> compressed_;  // raw bytes waiting for inflate, chunk_size of room
  z_stream zs_{};
};

// Appends a new clause to f; when f cannot grow the clause is released before the failure goes on.
void append_new(formulas::formula& f, literal_array_access c) {
  try {
    f.append(c);
  } catch (...) {
    free(c);
    throw;
  }
}

constexpr bool is_blank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
constexpr bool is_space(char c) noexcept { return is_blank(c) || c == '\n'; }
constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }
constexpr bool is_relation_char(char c) noexcept { return c == '<' || c == '>' || c == '=' || c == '!'; }

// A token for a message: quoted, unprintable bytes escaped, long ones cut short.
std::string quoted(std::string_view token) {
  std::string res = "'";
  const std::size_t shown = std::min<std::size_t>(token.size(), 24);
  for (std::size_t i = 0; i < shown; ++i) {
    const auto c = static_cast<unsigned char>(token[i]);
    if (c >= 0x20 && c < 0x7f) {
      res += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      res += hex;
    }
  }
  if (shown < token.size()) res += "...";
  return res + "'";
}

enum class number_status { ok, malformed, too_large };

// A decimal number with an optional '-' sign, magnitude at most 2147483647.
number_status parse_number(std::string_view token, std::int32_t& value) noexcept {
  const bool negative = !token.empty() && token.front() == '-';
  if (negative) token.remove_prefix(1);
  if (token.empty()) return number_status::malformed;
  std::int64_t magnitude = 0;
  for (const char c : token) {
    if (!is_digit(c)) return number_status::malformed;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > max_number) return number_status::too_large;
  }
  value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  return number_status::ok;
}

// The scanner. Lines are read one token at a time: 'c' lines are comments, the 'p' line is the
// header, a '%' line ends the clauses (the SATLIB trailer), and every other line holds literals, each
// clause closed by 0 and free to span lines. Under "p cnf+" the literals since the last 0 may be
// closed by "<= 1" instead, which makes them an at-most-one constraint.
class scanner {
 public:
  scanner(decoder& in, const std::string& name) : in_(in), name_(name), buffer_(new char[chunk_size]) {
    pos_ = end_ = buffer_.get();
  }

  // Fills p; on any exception p.f may hold a partial formula, which the caller releases.
  void run(problem& p) {
    try {
      scan(p);
    } catch (const input_failure& failure) {
      fail(failure.message);
    }
  }

 private:
  [[noreturn]] void fail(const std::string& message) const { throw parse_error(name_, line_, message); }
  [[noreturn]] void fail_at(std::int64_t line, const std::string& message) const {
    throw parse_error(name_, line, message);
  }

  // Reads more input after the bytes from `keep` on, which move to the start of the buffer.
  void fill(const char* keep) {
    const std::size_t kept = static_cast<std::size_t>(end_ - keep);
    std::memmove(buffer_.get(), keep, kept);
    const std::size_t got = in_.read(buffer_.get() + kept, chunk_size - kept);
    eof_ = got == 0;
    pos_ = buffer_.get();
    end_ = buffer_.get() + kept + got;
  }

  // The next byte, or -1 at the end of the input.
  int peek() {
    if (pos_ == end_) {
      if (eof_) return -1;
      fill(end_);
      if (pos_ == end_) return -1;
    }
    return static_cast<unsigned char>(*pos_);
  }

  void skip_blanks() {
    for (;;) {
      while (pos_ < end_ && is_blank(*pos_)) ++pos_;
      if (pos_ < end_ || eof_) return;
      fill(end_);
    }
  }

  // Consumes the rest of the line and its newline.
  void skip_line() {
    for (;;) {
      content_line_ = line_;
      const char* nl = static_cast<const char*>(std::memchr(pos_, '\n', static_cast<std::size_t>(end_ - pos_)));
      if (nl != nullptr) {
        pos_ = nl + 1;
        ++line_;
        return;
      }
      pos_ = end_;
      if (eof_) return;
      fill(end_);
      if (pos_ == end_) return;
    }
  }

  // The maximal run of non-space bytes at pos_ (pos_ must be at a non-space byte), contiguous in
  // the buffer. A run longer than max_token is refused.
  std::string_view next_token() {
    content_line_ = line_;
    const char* start = pos_;
    for (;;) {
      while (pos_ < end_ && !is_space(*pos_)) ++pos_;
      const std::size_t length = static_cast<std::size_t>(pos_ - start);
      if (length > max_token) fail("token " + quoted({start, length}) + " is too long");
      if (pos_ < end_ || eof_) return {start, length};
      fill(start);
      start = buffer_.get();
      pos_ = start + length;
    }
  }

  // The next token on the current line, or an empty view at its end.
  std::string_view token_on_line() {
    skip_blanks();
    const int c = peek();
    if (c == -1 || c == '\n') return {};
    return next_token();
  }

  void scan(problem& p) {
    for (;;) {  // at the start of a line
      skip_blanks();
      int c = peek();
      if (c == -1) break;
      if (c == '\n') {
        ++pos_;
        ++line_;
        continue;
      }
      if (c == 'c') {
        skip_line();
        continue;
      }
      if (c == '%') {
        if (open()) fail_at(clause_line_, "clause not closed by 0 before the '%' end marker");
        break;
      }
      if (c == 'p') {
        header(p);
        continue;
      }
      for (;;) {  // the tokens of one line
        entry_token(p, next_token());
        skip_blanks();
        c = peek();
        if (c == -1) break;
        if (c == '\n') {
          ++pos_;
          ++line_;
          break;
        }
      }
      if (c == -1) break;
    }
    if (!header_seen_) fail_at(content_line_, "no 'p cnf' header");
    if (open()) {
      fail_at(clause_line_, bound_expected_ ? "constraint not finished by its bound at the end of the file"
                                            : "clause not closed by 0 at the end of the file");
    }
    write_ladders(p);
    if (read_clauses_ < p.declared_clauses) {
      p.warnings.push_back(what_of(name_, header_line_,
                                   "the header declares " + std::to_string(p.declared_clauses) +
                                       " clauses but the file has " + std::to_string(read_clauses_)));
    }
  }

  // The 'p' line: "p cnf VARIABLES CLAUSES" or "p cnf+ VARIABLES CLAUSES".
  void header(problem& p) {
    const std::string_view p_token = next_token();
    if (header_seen_) fail("second 'p' header (the first is on line " + std::to_string(header_line_) + ")");
    const char* const expected = "malformed header: expected 'p cnf VARIABLES CLAUSES'";
    if (p_token != "p") fail(expected);
    const std::string_view format = token_on_line();
    if (format == "cnf+") {
      p.cardinality = true;
    } else if (format != "cnf") {
      if (format.empty()) fail(expected);
      fail("unsupported format " + quoted(format) + ": expected 'cnf' or 'cnf+'");
    }
    p.variables = header_count(token_on_line(), expected);
    p.declared_clauses = header_count(token_on_line(), expected);
    const std::string_view extra = token_on_line();
    if (!extra.empty()) fail("unexpected " + quoted(extra) + " after the header");
    header_seen_ = true;
    header_line_ = line_;
    // Room for the declared clauses at once, sparing the copies of repeated growth; capped, since
    // the header is not to be trusted with memory: a larger formula grows from there as usual.
    p.f.reserve(std::min(p.declared_clauses, max_reserved_entries));
  }

  std::int32_t header_count(std::string_view token, const char* expected) {
    std::int32_t value = 0;
    if (token.empty() || token.front() == '-') fail(expected);
    switch (parse_number(token, value)) {
      case number_status::ok:
        return value;
      case number_status::too_large:
        fail("number " + quoted(token) + " in the header is too large");
      case number_status::malformed:
        break;
    }
    fail(expected);
  }

  // A clause or constraint is open from its first token until its 0 or its bound.
  bool open() const noexcept { return !literals_.empty() || bound_expected_; }

  // A new clause or constraint begins on this line: one more than the header allows is refused.
  void begin_entry(const problem& p) {
    if (read_clauses_ == p.declared_clauses) {
      fail("more clauses than the " + std::to_string(p.declared_clauses) + " declared in the header");
    }
    clause_line_ = line_;
  }

  void entry_token(problem& p, std::string_view token) {
    const char first = token.front();
    if (first == '-' || is_digit(first)) {
      number_token(p, token);
    } else if (bound_expected_) {
      fail("expected the bound of the constraint, found " + quoted(token));
    } else if (is_relation_char(first)) {
      relation_token(p, token);
    } else {
      fail("expected a literal, found " + quoted(token));
    }
  }

  void number_token(problem& p, std::string_view token) {
    std::int32_t value = 0;
    switch (parse_number(token, value)) {
      case number_status::ok:
        break;
      case number_status::too_large:
        fail("number " + quoted(token) + " is too large");
      case number_status::malformed:
        fail("expected a literal, found " + quoted(token));
    }
    if (!header_seen_) fail("clause before the 'p cnf' header");
    if (bound_expected_) {
      bound(p, token, value);
      return;
    }
    if (literals_.empty()) begin_entry(p);
    if (value == 0) {
      append_new(p.f, new_clause(literals_));
      literals_.clear();
      ++read_clauses_;
      return;
    }
    if (value > p.variables || value < -p.variables) {
      fail("literal " + std::to_string(value) + " beyond the " + std::to_string(p.variables) +
           " variables declared in the header");
    }
    literals_.push_back(literal{value});
    p.used_variables = std::max(p.used_variables, to_int(get_var(literal{value})));
  }

  void relation_token(problem& p, std::string_view token) {
    const std::size_t length =
        static_cast<std::size_t>(std::find_if_not(token.begin(), token.end(), is_relation_char) - token.begin());
    const std::string_view relation = token.substr(0, length);
    if (!header_seen_) fail("constraint before the 'p cnf+' header");
    if (!p.cardinality) {
      fail("cardinality constraint " + quoted(token) + " in a 'p cnf' file: the header must read 'p cnf+'");
    }
    if (relation != "<=") fail("unsupported relation " + quoted(relation) + ": only '<= 1' constraints are read");
    if (literals_.empty()) begin_entry(p);
    bound_expected_ = true;
    const std::string_view rest = token.substr(length);
    if (rest.empty()) return;
    std::int32_t value = 0;
    if (parse_number(rest, value) != number_status::ok) fail("malformed bound " + quoted(rest));
    bound(p, rest, value);
  }

  // The bound after "<=": 1 closes an at-most-one constraint over the literals read since the last 0.
  void bound(problem& p, std::string_view token, std::int32_t value) {
    if (value != 1) fail("unsupported bound '<= " + std::string(token) + "': only '<= 1' constraints are read");
    add_at_most_one(p.f);
    literals_.clear();
    bound_expected_ = false;
    ++read_clauses_;
  }

  // At most one of literals_ is true: the range entry when they are three or more distinct
  // consecutive positive variables, pairwise clauses when they are few, the ladder otherwise (each
  // exact also for repeated or complementary literals, which count as often as they occur).
  void add_at_most_one(formulas::formula& f) {
    const std::size_t k = literals_.size();
    if (k >= 3) {
      sorted_.assign(literals_.begin(), literals_.end());
      std::sort(sorted_.begin(), sorted_.end());
      bool range = to_int(sorted_.front()) > 0;
      for (std::size_t i = 1; range && i < k; ++i) range = to_int(sorted_[i]) == to_int(sorted_[i - 1]) + 1;
      if (range) {
        const std::int32_t from = to_int(sorted_.front());
        append_new(f, new_clause({0, from, from + static_cast<std::int32_t>(k) - 1}));
        return;
      }
    }
    if (k > max_pairwise) {
      add_ladder(f);
      return;
    }
    for (std::size_t i = 0; i < k; ++i) {
      for (std::size_t j = i + 1; j < k; ++j) {
        const literal pair[2] = {-literals_[i], -literals_[j]};
        append_new(f, new_clause(pair));
      }
    }
  }

  // The ladder over literals_ (k of them) takes 3k - 4 places in f, null for now: its auxiliary
  // variables are numbered after the highest variable of the whole file, known only at its end,
  // where write_ladders fills them. Until then the group's literals wait in ladder_literals_.
  void add_ladder(formulas::formula& f) {
    const std::int64_t k = static_cast<std::int64_t>(literals_.size());
    if (k - 1 > std::numeric_limits<std::int32_t>::max() - auxiliary_) {
      fail("the at-most-one lines need more than 2147483647 auxiliary variables");
    }
    ladders_.push_back(
        {f.length() + 1, static_cast<std::int32_t>(k), auxiliary_, static_cast<std::int64_t>(ladder_literals_.size())});
    ladder_literals_.insert(ladder_literals_.end(), literals_.begin(), literals_.end());
    auxiliary_ += static_cast<std::int32_t>(k - 1);
    for (std::int64_t i = 0; i < 3 * k - 4; ++i) f.append(literal_array_access{});
  }

  // Fills the places of every ladder, its auxiliary variables numbered from p.used_variables + 2 on.
  // For x1 .. xk and s1 .. s(k-1), si standing for "one of x1 .. xi is true":
  //   (-x1 | s1), then for 1 < i < k: (-xi | si), (-s(i-1) | si), (-xi | -s(i-1)), and (-xk | -s(k-1)).
  // Every clause that implies an si comes before the clauses that read it, with si second; see
  // settle_auxiliary.
  void write_ladders(problem& p) {
    if (ladders_.empty()) return;
    if (auxiliary_ > std::numeric_limits<std::int32_t>::max() - 1 - p.used_variables) {
      fail_at(header_line_, "the at-most-one lines need " + std::to_string(auxiliary_) +
                                " auxiliary variables after variable " + std::to_string(p.used_variables + 1) +
                                ": more than 2147483647 variables");
    }
    p.auxiliary_variables = auxiliary_;
    for (const ladder& l : ladders_) {
      const literal* const x = ladder_literals_.data() + l.literals;
      const std::int32_t base = p.used_variables + 1 + l.auxiliary;  // si is base + i
      const auto s = [base](std::int32_t i) { return variable{base + i}; };
      std::int32_t at = l.entry;
      const auto put = [&](literal a, literal b) {
        const literal pair[2] = {a, b};
        p.f.set(at++, new_clause(pair));
      };
      put(-x[0], +s(1));
      for (std::int32_t i = 2; i < l.k; ++i) {
        put(-x[i - 1], +s(i));
        put(-s(i - 1), +s(i));
        put(-x[i - 1], -s(i - 1));
      }
      put(-x[l.k - 1], -s(l.k - 1));
    }
  }

  decoder& in_;
  const std::string& name_;
  std::unique_ptr<char[]> buffer_;  // chunk_size bytes; the unread input is pos_ .. end_
  const char* pos_ = nullptr;       // next unread byte
  const char* end_ = nullptr;       // end of the bytes read so far
  bool eof_ = false;                // the decoder has nothing more
  std::int64_t line_ = 1;           // line of pos_, from 1
  std::int64_t content_line_ = 1;   // line of the last token or comment
  bool header_seen_ = false;
  std::int64_t header_line_ = 0;   // line of the 'p' header, 0 before it
  std::int32_t read_clauses_ = 0;  // clauses and constraints closed so far
  std::int64_t clause_line_ = 0;   // line where the open clause or constraint began
  bool bound_expected_ = false;    // "<=" read, its bound not yet
  std::vector<literal> literals_;  // the open clause or constraint, in order
  std::vector<literal> sorted_;    // scratch for recognising a range

  // A constraint taking the ladder: where its clauses go and what they are made of.
  struct ladder {
    std::int32_t entry;      // index in the formula of its first clause, 3k - 4 places in all
    std::int32_t k;          // its literals, k > max_pairwise
    std::int32_t auxiliary;  // auxiliary variables of the ladders before it
    std::int64_t literals;   // index of its first literal in ladder_literals_
  };
  std::vector<ladder> ladders_;           // in file order
  std::vector<literal> ladder_literals_;  // the literals of every ladder, one after another
  std::int32_t auxiliary_ = 0;            // auxiliary variables of the ladders so far
};

problem read_from(raw_input raw, const std::string& name) {
  problem p;
  try {
    decoder in(raw);
    scanner(in, name).run(p);
  } catch (...) {
    formulas::free_all(p.f);
    throw;
  }
  return p;
}

// Output text gathered in a buffer and handed to the stream a block at a time.
class text_out {
 public:
  explicit text_out(std::ostream& out) : out_(out) { text_.reserve(flush_at + 64); }

  void number(std::int64_t x) {
    char digits[24];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, x);
    text_.append(digits, end);
  }
  void put(std::string_view s) { text_.append(s); }
  void put(char c) { text_.push_back(c); }
  void end_line() {
    text_.push_back('\n');
    if (text_.size() >= flush_at) flush();
  }
  void flush() {
    out_.write(text_.data(), static_cast<std::streamsize>(text_.size()));
    text_.clear();
    if (!out_) throw std::ios_base::failure("cannot write the DIMACS text");
  }

 private:
  static constexpr std::size_t flush_at = std::size_t{1} << 16;
  std::ostream& out_;
  std::string text_;
};

// The number of variables in the range of [0, from, to], 0 when empty.
std::int64_t range_length(literal_array_access entry) noexcept {
  assert(entry.length() == 3);
  const std::int64_t from = to_int(entry[entry.first() + 1]);
  const std::int64_t to = to_int(entry[entry.first() + 2]);
  return to < from ? 0 : to - from + 1;
}

}  // namespace

parse_error::parse_error(const std::string& file, std::int64_t line, const std::string& message)
    : std::runtime_error(what_of(file, line, message)), file_(file), line_(line), message_(message) {}

problem read(std::istream& in, const std::string& name) { return read_from(raw_input(in), name); }

problem read_file(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    if (errno == ENOMEM) throw std::bad_alloc();  // exhaustion, like every other, is no fault of the input
    throw parse_error(path, 0, std::string("cannot open: ") + std::strerror(errno));
  }
  try {
    problem p = read_from(raw_input(file), path);
    std::fclose(file);
    return p;
  } catch (...) {
    std::fclose(file);
    throw;
  }
}

void settle_auxiliary(const formulas::formula& f, const problem& p, model& m) noexcept {
  if (p.auxiliary_variables == 0) return;
  const std::int32_t first = p.used_variables + 2;
  const std::int32_t last = p.formula_variables();
  // In the ladders' order, si is implied by (-xi | si) and (-s(i-1) | si), both before any clause
  // that reads si: one pass settles each unset si from values already final. An auxiliary variable
  // still unset when read is one that nothing implied, false in the end.
  const auto is_true = [&](literal l) {
    const variable_value x = m[get_var(l)];
    if (x == variable_value::unset) return to_int(get_var(l)) >= first && !is_positive(l);
    return (x == variable_value::true_) == is_positive(l);
  };
  for (std::int32_t i = f.first_index(); f.has_element(i); i = f.next(i)) {
    const literal_array_access c = f.get(i);
    if (c.length() != 2 || !is_positive(c.data()[1]) || to_int(c.data()[1]) < first) continue;
    variable_value& s = m[get_var(c.data()[1])];
    if (s == variable_value::unset && !is_true(c.data()[0])) s = variable_value::true_;
  }
  for (std::int32_t v = first; v <= last; ++v) {
    if (m[variable{v}] == variable_value::unset) m[variable{v}] = variable_value::false_;
  }
}

void write(std::ostream& out, const formulas::formula& f, std::int32_t variables, const write_options& options) {
  // Count the lines first: the header states them.
  std::int64_t lines = 0;
  bool ranges = false;
  for (std::int32_t i = f.first_index(); f.has_element(i); i = f.next(i)) {
    const literal_array_access entry = f.get(i);
    if (!is_at_most_one(entry)) {
      ++lines;
      continue;
    }
    const std::int64_t n = range_length(entry);
    if (n >= 3 && !options.expand_at_most_one) {
      ++lines;
      ranges = true;
    } else {
      lines += n * (n - 1) / 2;
    }
  }

  text_out text(out);
  text.put(ranges ? "p cnf+ " : "p cnf ");
  text.number(variables);
  text.put(' ');
  text.number(lines);
  text.end_line();
  for (std::int32_t i = f.first_index(); f.has_element(i); i = f.next(i)) {
    const literal_array_access entry = f.get(i);
    if (!is_at_most_one(entry)) {
      for (const literal l : entry) {
        assert(to_int(get_var(l)) >= 1 && to_int(get_var(l)) <= variables);
        text.number(to_int(l));
        text.put(' ');
      }
      text.put('0');
      text.end_line();
      continue;
    }
    const std::int64_t n = range_length(entry);
    const std::int64_t from = to_int(entry[entry.first() + 1]);
    assert(n == 0 || (from >= 1 && from + n - 1 <= variables));
    if (n >= 3 && !options.expand_at_most_one) {
      for (std::int64_t v = from; v < from + n; ++v) {
        text.number(v);
        text.put(' ');
      }
      text.put("<= 1");
      text.end_line();
      continue;
    }
    for (std::int64_t a = from; a < from + n; ++a) {
      for (std::int64_t b = a + 1; b < from + n; ++b) {
        text.number(-a);
        text.put(' ');
        text.number(-b);
        text.put(" 0");
        text.end_line();
      }
    }
  }
  text.flush();
}

}  // namespace nubrix::dimacs
