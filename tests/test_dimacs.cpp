// The DIMACS reader and writer: every refusal with its message and line, the SATLIB quirks, the
// cardinality extension against a brute-force reading of its meaning, gzip input, round trips of
// generated problems, the real benchmark files when present, and mutated inputs against a plain
// reference reader.
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ios>
#include <optional>
#include <sstream>
#include <string>

#include <nubrix/dimacs.hpp>

#include "generators.hpp"
#include "new_probe.hpp"
#include "support.hpp"

namespace nubrix::testing {
namespace {

// The outcome of reading a text: its entries and header, or the refusal's what().
struct reading {
  entries es;
  std::int32_t variables = 0;
  std::int32_t declared = 0;
  bool cardinality = false;
  std::vector<std::string> warnings;
  std::string error;  // empty when the text was read
};

reading read_text(const std::string& text, const std::string& name = "t.cnf") {
  std::istringstream in(text);
  reading r;
  try {
    dimacs::problem p = dimacs::read(in, name);
    r.es = numbers_of(p.f);
    formulas::free_all(p.f);
    r.variables = p.variables;
    r.declared = p.declared_clauses;
    r.cardinality = p.cardinality;
    r.warnings = p.warnings;
  } catch (const dimacs::parse_error& e) {
    r.error = e.what();
  }
  return r;
}

std::string gzip(const std::string& text) {
  z_stream zs{};
  EXPECT_EQ(deflateInit2(&zs, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&zs, text.size()), '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  zs.avail_in = static_cast<uInt>(text.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

std::string text_of(const formulas::formula& f, std::int32_t variables, bool expand = false) {
  std::ostringstream out;
  dimacs::write(out, f, variables, {.expand_at_most_one = expand});
  return out.str();
}

using dimacs_test = heap_test;

TEST_F(dimacs_test, each_fault_is_refused_with_its_file_line_and_cause) {
  struct bad {
    std::string text;
    std::string what;
  };
  const bad cases[] = {
      // the header
      {"", "t.cnf:1: no 'p cnf' header"},
      {"c a comment\nc another\n\n", "t.cnf:2: no 'p cnf' header"},
      {"1 2 0\n", "t.cnf:1: clause before the 'p cnf' header"},
      {"c x\n<= 1\n", "t.cnf:2: constraint before the 'p cnf+' header"},
      {"p cnf 3 2\n1 0\np cnf 3 2\n2 0\n", "t.cnf:3: second 'p' header (the first is on line 1)"},
      {"p cnf 3\n", "t.cnf:1: malformed header: expected 'p cnf VARIABLES CLAUSES'"},
      {"p cnf -3 1\n", "t.cnf:1: malformed header: expected 'p cnf VARIABLES CLAUSES'"},
      {"p cnf x 1\n", "t.cnf:1: malformed header: expected 'p cnf VARIABLES CLAUSES'"},
      {"pcnf 3 1\n", "t.cnf:1: malformed header: expected 'p cnf VARIABLES CLAUSES'"},
      {"p\ncnf 3 1\n", "t.cnf:1: malformed header: expected 'p cnf VARIABLES CLAUSES'"},
      {"p wcnf 3 1\n", "t.cnf:1: unsupported format 'wcnf': expected 'cnf' or 'cnf+'"},
      {"p cnf 3 1 7\n", "t.cnf:1: unexpected '7' after the header"},
      {"p cnf 2147483648 1\n", "t.cnf:1: number '2147483648' in the header is too large"},
      // literals and numbers
      {"p cnf 3 1\n1 4 0\n", "t.cnf:2: literal 4 beyond the 3 variables declared in the header"},
      {"p cnf 3 1\n\n-4 0\n", "t.cnf:3: literal -4 beyond the 3 variables declared in the header"},
      {"p cnf 0 1\n1 0\n", "t.cnf:2: literal 1 beyond the 0 variables declared in the header"},
      {"p cnf 3 1\n1 x 0\n", "t.cnf:2: expected a literal, found 'x'"},
      {"p cnf 3 1\n1 2a 0\n", "t.cnf:2: expected a literal, found '2a'"},
      {"p cnf 3 1\n1 - 0\n", "t.cnf:2: expected a literal, found '-'"},
      {"p cnf 3 1\n--1 0\n", "t.cnf:2: expected a literal, found '--1'"},
      {"p cnf 3 1\n+1 0\n", "t.cnf:2: expected a literal, found '+1'"},
      {"p cnf 3 1\n1 0 c not a comment here\n", "t.cnf:2: expected a literal, found 'c'"},
      {"p cnf 3 1\n1 %\n", "t.cnf:2: expected a literal, found '%'"},
      {std::string("p cnf 3 1\n1 \0 0\n", 16), "t.cnf:2: expected a literal, found '\\x00'"},
      {"p cnf 3 1\n1 \xff\x01 0\n", "t.cnf:2: expected a literal, found '\\xff\\x01'"},
      {"p cnf 3 1\n12345678901 0\n", "t.cnf:2: number '12345678901' is too large"},
      {"p cnf 3 1\n-2147483648 0\n", "t.cnf:2: number '-2147483648' is too large"},
      {"p cnf 3 1\n" + std::string(300, '7') + " 0\n", "t.cnf:2: token '777777777777777777777777...' is too long"},
      // clauses against the header and the end of the input
      {"p cnf 3 1\n1 2\n", "t.cnf:2: clause not closed by 0 at the end of the file"},
      {"p cnf 3 1\n1\n2\n3", "t.cnf:2: clause not closed by 0 at the end of the file"},
      {"p cnf 3 2\n1 0\n2\n%\n0\n", "t.cnf:3: clause not closed by 0 before the '%' end marker"},
      {"p cnf 3 1\n1 0\n2 0\n", "t.cnf:3: more clauses than the 1 declared in the header"},
      {"p cnf 3 1\n1 0 0\n", "t.cnf:2: more clauses than the 1 declared in the header"},
      {"p cnf 3 0\n\n\n1 0\n", "t.cnf:4: more clauses than the 0 declared in the header"},
      // the cardinality extension
      {"p cnf 3 1\n1 2 <= 1\n",
       "t.cnf:2: cardinality constraint '<=' in a 'p cnf' file: the header must read 'p cnf+'"},
      {"p cnf+ 3 1\n1 2 >= 1\n", "t.cnf:2: unsupported relation '>=': only '<= 1' constraints are read"},
      {"p cnf+ 3 1\n1 2 = 1\n", "t.cnf:2: unsupported relation '=': only '<= 1' constraints are read"},
      {"p cnf+ 3 1\n1 2 < 2\n", "t.cnf:2: unsupported relation '<': only '<= 1' constraints are read"},
      {"p cnf+ 3 1\n1 2 <= 2\n", "t.cnf:2: unsupported bound '<= 2': only '<= 1' constraints are read"},
      {"p cnf+ 3 1\n1 2 <=0\n", "t.cnf:2: unsupported bound '<= 0': only '<= 1' constraints are read"},
      {"p cnf+ 3 1\n1 2 <= x\n", "t.cnf:2: expected the bound of the constraint, found 'x'"},
      {"p cnf+ 3 1\n1 2 <= <= 1\n", "t.cnf:2: expected the bound of the constraint, found '<='"},
      {"p cnf+ 3 1\n1 2 <=x\n", "t.cnf:2: malformed bound 'x'"},
      {"p cnf+ 3 1\n1 2 <=", "t.cnf:2: constraint not finished by its bound at the end of the file"},
      {"p cnf+ 3 1\n1 2 <= 1\n3 <= 1\n", "t.cnf:3: more clauses than the 1 declared in the header"},
      {"p cnf+ 3 1\n1 4 <= 1\n", "t.cnf:2: literal 4 beyond the 3 variables declared in the header"},
  };
  for (const bad& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(read_text(c.text).error, c.what);
  }
}

TEST_F(dimacs_test, a_refusal_carries_its_parts_and_fewer_clauses_is_only_a_warning) {
  std::istringstream in("p cnf 2 1\n1 3 0\n");
  try {
    dimacs::problem p = dimacs::read(in, "dir/x.cnf");
    formulas::free_all(p.f);
    ADD_FAILURE() << "read a literal beyond the header";
  } catch (const dimacs::parse_error& e) {
    EXPECT_EQ(e.file(), "dir/x.cnf");
    EXPECT_EQ(e.line(), 2);
    EXPECT_EQ(e.message(), "literal 3 beyond the 2 variables declared in the header");
  }

  const reading fewer = read_text("c x\np cnf 3 3\n1 0\n-2 3 0\n");
  EXPECT_EQ(fewer.error, "");
  EXPECT_EQ(fewer.es, (entries{{1}, {-2, 3}}));
  EXPECT_EQ(fewer.warnings, std::vector<std::string>{"t.cnf:2: the header declares 3 clauses but the file has 2"});
  EXPECT_TRUE(read_text("p cnf 3 1\n1 0\n").warnings.empty());

  try {
    static_cast<void>(dimacs::read_file("/nonexistent/nubrix/x.cnf"));
    ADD_FAILURE() << "opened a file that does not exist";
  } catch (const dimacs::parse_error& e) {
    EXPECT_EQ(std::string(e.what()), "/nonexistent/nubrix/x.cnf: cannot open: No such file or directory");
    EXPECT_EQ(e.line(), 0);
  }
  EXPECT_THROW(static_cast<void>(dimacs::read_file("/")), dimacs::parse_error) << "a directory reads as an error";
}

TEST_F(dimacs_test, satlib_quirks) {
  // The uf/uuf trailer: '%' ends the clauses, and the 0 after it is not an empty clause.
  const entries two = {{4, -18, 19}, {3, 18, -5}};
  EXPECT_EQ(read_text("c generated by mcnf\nc\np cnf 20  91 \n 4 -18 19 0\n3 18 -5 0\n%\n0\n\n").es, two);
  EXPECT_EQ(read_text("p cnf 20 2\n4 -18 19 0\n3 18 -5 0\n%\n").es, two);
  EXPECT_EQ(read_text("p cnf 20 2\n4 -18 19 0\n3 18 -5 0\n%").es, two);
  EXPECT_EQ(read_text("p cnf 20 2\n4 -18 19 0\n3 18 -5 0\n  %  junk after the marker\n0\nx y\n").es, two);
  EXPECT_EQ(read_text("p cnf 20 2\n4 -18 19 0\n3 18 -5 0\n0\n").error,
            "t.cnf:4: more clauses than the 2 declared in the header")
      << "without the marker a trailing 0 is one clause too many, never a silent empty clause";
  // Spacing: leading blanks, runs of spaces, tabs (cfa), CRLF, no final newline (aim), a closing comment (ais).
  EXPECT_EQ(read_text("p\tcnf\t20\t2\n\t4\t\t-18 19   0\n   3 18\t-5 0").es, two);
  EXPECT_EQ(read_text("p cnf 20 2\r\n4 -18 19 0\r\n3 18 -5 0\r\n").es, two);
  EXPECT_EQ(read_text("p cnf 20 2\n4 -18 19 0\n3 18 -5 0\nc end of file").es, two);
  EXPECT_EQ(read_text("p cnf 20 2\n4 -18 19 0\n3 18 -5 0\nc end of file\n\n\n").es, two);
  // Clauses span lines and share them; comments may stand anywhere at the start of a line.
  EXPECT_EQ(read_text("c a\np cnf 20 2\nc b\n4\nc inside a clause\n-18\n19 0 3 18 -5\n0\nc c\n").es, two);
  // Empty clauses, an empty formula, -0 as the terminator, leading zeros.
  EXPECT_EQ(read_text("p cnf 2 3\n0\n1 -0 002 0\n").es, (entries{{}, {1}, {2}}));
  EXPECT_EQ(read_text("p cnf 0 0\n").es, entries{});
  EXPECT_EQ(read_text("p cnf 2147483647 1\n-2147483647 2147483647 0\n").es, (entries{{-2147483647, 2147483647}}));
}

TEST_F(dimacs_test, cardinality_lines_become_ranges_or_pairwise_clauses) {
  const reading r = read_text(
      "p cnf+ 9 9\n"
      "1 2 3 <= 1\n"             // a range
      "6 4 5 <=1\n"              // a range in any order, the bound joined to the relation
      "7 8 <= 1\n"               // two variables: one clause
      "9 <= 1\n"                 // one variable: nothing
      "<= 1\n"                   // no literal: nothing
      "1 2 4 <= 1\n"             // a gap: pairwise
      "-1 2 3 <= 1\n"            // a negative literal: pairwise
      "1 -2 0 2 3 4\n<=\n1\n");  // a clause, then a constraint spread over lines
  ASSERT_EQ(r.error, "");
  EXPECT_TRUE(r.cardinality);
  EXPECT_EQ(r.declared, 9);
  EXPECT_TRUE(r.warnings.empty());
  EXPECT_EQ(r.es, (entries{{0, 1, 3},
                           {0, 4, 6},
                           {-7, -8},
                           {-1, -2},
                           {-1, -4},
                           {-2, -4},
                           {1, -2},
                           {1, -3},
                           {-2, -3},
                           {1, -2},
                           {0, 2, 4}}));
}

// The meaning of a "p cnf+" text read by brute force from its tokens: clauses, and at most one true
// literal (counted with repetition) per constraint.
std::int64_t models_of_text(const std::vector<std::pair<entry, bool>>& lines, int n) {
  std::int64_t count = 0;
  for (std::uint64_t bits = 0; bits < (std::uint64_t{1} << n); ++bits) {
    bool ok = true;
    for (const auto& [lits, is_constraint] : lines) {
      int true_count = 0;
      for (const std::int32_t l : lits) true_count += (((bits >> (std::abs(l) - 1)) & 1U) != 0) == (l > 0) ? 1 : 0;
      ok = ok && (is_constraint ? true_count <= 1 : true_count >= 1);
    }
    count += ok ? 1 : 0;
  }
  return count;
}

TEST_F(dimacs_test, random_cardinality_texts_keep_their_meaning) {
  generators::random rng(20240611);
  for (int round = 0; round < 400; ++round) {
    const int n = 1 + static_cast<int>(rng.below(7));
    std::vector<std::pair<entry, bool>> lines(rng.below(6));
    std::string text = "p cnf+ " + std::to_string(n) + " " + std::to_string(lines.size()) + "\n";
    for (auto& [lits, is_constraint] : lines) {
      is_constraint = rng.below(3) != 0;
      // Runs of consecutive variables now and then, so that ranges are exercised too.
      const bool run = is_constraint && rng.below(2) == 0;
      const auto start = static_cast<std::int32_t>(1 + rng.below(static_cast<std::uint64_t>(n)));
      for (std::uint64_t k = rng.below(6); k > 0; --k) {
        const std::int32_t v = run ? start + static_cast<std::int32_t>(lits.size())
                                   : static_cast<std::int32_t>(1 + rng.below(static_cast<std::uint64_t>(n)));
        if (v > n) break;
        lits.push_back(run || rng.below(2) == 0 ? v : -v);
      }
      for (const std::int32_t l : lits) text += std::to_string(l) + " ";
      text += is_constraint ? "<= 1\n" : "0\n";
    }
    SCOPED_TRACE(text);
    const reading r = read_text(text);
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(count_models(r.es, n), models_of_text(lines, n));
  }
}

TEST_F(dimacs_test, gzip_input_from_streams_and_files) {
  const std::string text = "c zipped\np cnf+ 5 3\n1 -2 0\n3 4 5 <= 1\n-5 0\n";
  const entries expected = {{1, -2}, {0, 3, 5}, {-5}};
  EXPECT_EQ(read_text(gzip(text)).es, expected);
  EXPECT_EQ(read_text(gzip(text.substr(0, 20)) + gzip(text.substr(20))).es, expected) << "concatenated members";

  const std::filesystem::path dir = std::filesystem::temp_directory_path();
  const std::filesystem::path plain = dir / ("nubrix-test-" + std::to_string(::getpid()) + ".cnf");
  const std::filesystem::path zipped = dir / ("nubrix-test-" + std::to_string(::getpid()) + ".cnf.gz");
  std::ofstream(plain, std::ios::binary) << text;
  std::ofstream(zipped, std::ios::binary) << gzip(text);
  for (const auto& path : {plain, zipped}) {
    dimacs::problem p = dimacs::read_file(path.string());
    EXPECT_EQ(numbers_of(p.f), expected);
    formulas::free_all(p.f);
  }
  std::filesystem::remove(plain);
  std::filesystem::remove(zipped);

  const std::string z = gzip(text);
  EXPECT_EQ(read_text(z.substr(0, z.size() - 3)).error, "t.cnf:6: gzip data ends early") << "the text was whole";
  EXPECT_NE(read_text(z.substr(0, z.size() / 2)).error.find("gzip data ends early"), std::string::npos);
  std::string bad_crc = z;
  bad_crc[bad_crc.size() - 8] = static_cast<char>(bad_crc[bad_crc.size() - 8] ^ 0x55);
  EXPECT_NE(read_text(bad_crc).error.find("corrupt gzip data"), std::string::npos);
  EXPECT_NE(read_text(z + "garbage").error.find("corrupt gzip data"), std::string::npos);
  EXPECT_EQ(read_text("\x1f").error, "t.cnf:1: expected a literal, found '\\x1f'") << "one magic byte is no gzip";
}

// Inputs of several megabytes cross the reader's buffer many times, tokens split at every offset.
TEST_F(dimacs_test, large_inputs_plain_and_compressed) {
  generators::instance g = generators::random_ksat(3, 100000, 4.2, 5);
  const std::string text = text_of(g.f, g.variables);
  ASSERT_GT(text.size(), std::size_t{4} << 20);
  const entries expected = numbers_of(g.f);
  formulas::free_all(g.f);
  EXPECT_EQ(read_text(text).es, expected);
  EXPECT_EQ(read_text(gzip(text)).es, expected);
  // Long comment lines and blank runs across the buffer's end.
  const std::string padded = "c " + std::string(3 << 20, 'x') + "\n" + std::string(3 << 20, ' ') + text;
  EXPECT_EQ(read_text(padded).es, expected);
}

// Whether a range entry stays one entry through write and read, and the expanded form for peers.
entries expanded(const entries& es) {
  entries out;
  for (const entry& e : es) {
    if (!is_at_most_one(e)) {
      out.push_back(e);
      continue;
    }
    for (std::int32_t a = e[1]; a <= e[2]; ++a)
      for (std::int32_t b = a + 1; b <= e[2]; ++b) out.push_back({-a, -b});
  }
  return out;
}

TEST_F(dimacs_test, generated_problems_survive_write_and_read) {
  std::vector<generators::instance> problems;
  for (std::int32_t n = 1; n <= 8; ++n) problems.push_back(generators::queens(n));
  for (std::int32_t n = 1; n <= 6; ++n) problems.push_back(generators::pigeonhole(n));
  for (std::int32_t n = 1; n <= 8; ++n) problems.push_back(generators::langford(n));
  for (std::int32_t k = 1; k <= 5; ++k) problems.push_back(generators::colouring(generators::mycielski(k), k, "m", ""));
  problems.push_back(generators::colouring(generators::random_graph(30, 100, 3), 4, "g", ""));
  problems.push_back(generators::random_ksat(3, 50, 4.26, 9));
  problems.push_back(generators::random_ksat(7, 40, 2.0, 10));
  for (generators::instance& g : problems) {
    SCOPED_TRACE(g.name);
    const entries original = numbers_of(g.f);
    const bool has_ranges = std::any_of(original.begin(), original.end(), is_at_most_one);
    const reading native = read_text(text_of(g.f, g.variables));
    const reading pairwise = read_text(text_of(g.f, g.variables, true));
    formulas::free_all(g.f);
    ASSERT_EQ(native.error, "");
    ASSERT_EQ(pairwise.error, "");
    EXPECT_EQ(native.es, original);
    EXPECT_EQ(native.cardinality, has_ranges);
    EXPECT_EQ(native.variables, g.variables);
    EXPECT_EQ(pairwise.es, expanded(original));
    EXPECT_FALSE(pairwise.cardinality);
    EXPECT_TRUE(native.warnings.empty() && pairwise.warnings.empty()) << "the header counts are exact";
  }
}

TEST_F(dimacs_test, writer_text_and_its_short_ranges) {
  formulas::formula f = formula_of({{1, -2}, {}, {0, 3, 5}, {0, 6, 7}, {0, 8, 8}, {0, 9, 2}, {-9}});
  EXPECT_EQ(text_of(f, 9), "p cnf+ 9 5\n1 -2 0\n0\n3 4 5 <= 1\n-6 -7 0\n-9 0\n");
  EXPECT_EQ(text_of(f, 9, true), "p cnf 9 7\n1 -2 0\n0\n-3 -4 0\n-3 -5 0\n-4 -5 0\n-6 -7 0\n-9 0\n");
  formulas::free_all(f);
  formulas::formula none = formulas::clause_vectors::empty_vector;
  EXPECT_EQ(text_of(none, 0), "p cnf 0 0\n");

  formulas::formula g = formula_of({{1}});
  std::ostringstream failed;
  failed.setstate(std::ios::badbit);
  EXPECT_THROW(dimacs::write(failed, g, 1), std::ios_base::failure);
  formulas::free_all(g);
}

// Long at-most-one lines over scattered variables take memory in proportion to their length, both
// in the library's heap and the standard library's: pairwise clauses would take gigabytes here.
TEST_F(dimacs_test, long_at_most_one_lines_take_memory_linear_in_their_length) {
  for (const std::int32_t k : {4000, 8000}) {
    std::string text = "p cnf+ " + std::to_string(2 * k) + " 1\n";
    for (std::int32_t i = 0; i < k; ++i) text += std::to_string(2 * i + 1) + " ";  // 1, 3, 5, ...
    text += "<= 1\n";
    std::istringstream in(text);
    new_probe::reset();
    dimacs::problem p = dimacs::read(in, "t.cnf");
    const std::int64_t bytes = probe::read().bytes + new_probe::read().bytes;
    EXPECT_EQ(p.used_variables, 2 * k - 1);
    EXPECT_EQ(p.auxiliary_variables, k - 1);
    EXPECT_EQ(p.f.length(), 3 * k - 4);
    EXPECT_LT(bytes, (std::int64_t{1} << 19) + 512 * std::int64_t{k}) << "the reader's buffer, then per literal";
    formulas::free_all(p.f);
  }
}

TEST_F(dimacs_test, exhaustion_while_reading_releases_the_partial_formula) {
  const std::string text = "p cnf+ 6 6\n1 2 0\n-3 0\n1 2 3 <= 1\n4 6 5 <= 1\n1 3 5 <= 1\n0\n";
  const int failures = for_each_failing_request([&](std::int64_t k) {
    std::istringstream in(text);
    probe::fail_request(k);
    dimacs::problem p = dimacs::read(in, "t.cnf");
    formulas::free_all(p.f);
  });
  EXPECT_GE(failures, 9) << "every clause and every growth of the formula may fail";
}

// The real benchmark files: every one reads with exactly its declared clauses, no warning.
TEST_F(dimacs_test, benchmark_files_read_as_declared) {
  const std::filesystem::path root = NUBRIX_BENCHMARK_DATA;
  if (!std::filesystem::is_directory(root)) GTEST_SKIP() << root << " is not here";
  int files = 0;
  for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
    if (item.path().extension() != ".cnf") continue;
    SCOPED_TRACE(item.path().string());
    dimacs::problem p = dimacs::read_file(item.path().string());
    EXPECT_EQ(p.f.length(), p.declared_clauses);
    EXPECT_TRUE(p.warnings.empty());
    EXPECT_FALSE(p.cardinality);
    for (std::int32_t i = 1; i <= p.f.length(); ++i) EXPECT_FALSE(p.f.get(i).is_empty()) << "clause " << i;
    formulas::free_all(p.f);
    ++files;
    if (HasFailure()) break;
  }
  EXPECT_GT(files, 1000);
  dimacs::problem uf = dimacs::read_file((root / "uf20/uf20-01.cnf").string());
  EXPECT_EQ(uf.variables, 20);
  EXPECT_EQ(numbers_of(uf.f.get(1)), (entry{4, -18, 19}));
  EXPECT_EQ(numbers_of(uf.f.get(4)), (entry{-20, 7, -16}));
  EXPECT_EQ(numbers_of(uf.f.get(91)), (entry{4, -16, -5})) << "the last clause, before the '%' trailer";
  formulas::free_all(uf.f);
}

// A plain reading of the format for the mutation test: lines split the obvious way, the same rules,
// and every constraint as its pairwise clauses, but for those of more than five literals that are not
// a range: their auxiliary variables are counted in `ladder` instead. nullopt when the text must be
// refused.
std::optional<entries> reference_read(const std::string& text, std::int64_t& ladder) {
  const auto number = [](const std::string& t, bool sign_ok) -> std::optional<std::int64_t> {
    std::size_t i = sign_ok && !t.empty() && t[0] == '-' ? 1 : 0;
    if (i == t.size() || t.size() > 256) return std::nullopt;
    std::int64_t v = 0;
    for (; i < t.size(); ++i) {
      if (std::isdigit(static_cast<unsigned char>(t[i])) == 0) return std::nullopt;
      if ((v = v * 10 + (t[i] - '0')) > 2147483647) return std::nullopt;
    }
    return t[0] == '-' ? -v : v;
  };
  std::vector<std::string> tokens;  // after the header, in order
  bool header = false, plus = false;
  std::int64_t variables = 0, declared = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::vector<std::string> ws;
    for (std::string w; words >> w;) ws.push_back(w);
    if (ws.empty() || ws[0][0] == 'c') continue;
    if (ws[0][0] == '%') break;
    if (ws[0][0] == 'p') {
      if (header || ws.size() != 4 || ws[0] != "p" || (ws[1] != "cnf" && ws[1] != "cnf+")) return std::nullopt;
      const auto v = number(ws[2], false), c = number(ws[3], false);
      if (!v || !c) return std::nullopt;
      header = true, plus = ws[1] == "cnf+", variables = *v, declared = *c;
      continue;
    }
    if (!header) return std::nullopt;
    tokens.insert(tokens.end(), ws.begin(), ws.end());
  }
  if (!header) return std::nullopt;
  entries out;
  entry open;
  std::int64_t closed = 0;
  bool want_bound = false;
  for (std::string t : tokens) {
    if (!want_bound && open.empty() && closed == declared) return std::nullopt;
    if (!want_bound && t.rfind("<=", 0) == 0) {
      if (!plus || (t.size() > 2 && t[2] == '<')) return std::nullopt;
      want_bound = true;
      if (t.size() == 2) continue;
      t = t.substr(2);
    }
    const auto x = number(t, true);
    if (!x) return std::nullopt;
    if (want_bound) {
      if (*x != 1) return std::nullopt;
      entry sorted = open;
      std::sort(sorted.begin(), sorted.end());
      bool range = sorted.size() >= 3 && sorted[0] > 0;
      for (std::size_t i = 1; range && i < sorted.size(); ++i) range = sorted[i] == sorted[i - 1] + 1;
      if (open.size() > 5 && !range) {
        ladder += static_cast<std::int64_t>(open.size()) - 1;
        open.clear(), want_bound = false, ++closed;
        continue;
      }
      for (std::size_t a = 0; a < open.size(); ++a)
        for (std::size_t b = a + 1; b < open.size(); ++b) out.push_back({-open[a], -open[b]});
      open.clear(), want_bound = false, ++closed;
    } else if (*x == 0) {
      out.push_back(open), open.clear(), ++closed;
    } else {
      if (std::abs(*x) > variables) return std::nullopt;
      open.push_back(static_cast<std::int32_t>(*x));
    }
  }
  if (!open.empty() || want_bound) return std::nullopt;
  return out;
}

// Entries compared as a multiset of literal sets, ranges expanded: order is checked elsewhere.
entries canonical(const entries& es) {
  entries out = expanded(es);
  for (entry& e : out) std::sort(e.begin(), e.end());
  std::sort(out.begin(), out.end());
  return out;
}

// Mutated files (byte flips, truncations, inserted and deleted text), plain and compressed: each is
// read exactly as the reference reads it, or refused with a parse_error when the reference refuses
// it. Nothing crashes or leaks (the sanitizer build watches).
TEST_F(dimacs_test, mutated_inputs_are_read_right_or_refused) {
  std::vector<std::string> seeds = {
      "c SATLIB\np cnf 6  4 \n 1 -2 3 0\n-4\t5 6 0\n2 -6 0\n-1 0\n%\n0\n",
      "p cnf+ 8 5\n1 2 3 <= 1\n-4 5 0\n6 7 8 <= 1\n1 5 <= 1\n-8 0\n",
      "c x\np cnf 5 3\n1 2\n3 0 -4 -5 0\n\n5 0\nc end of file",
  };
  generators::instance q = generators::queens(4);
  seeds.push_back(text_of(q.f, q.variables));
  formulas::free_all(q.f);

  const std::vector<std::string> inserts = {"0", " ",  "\n", "-",           "p cnf 3 2\n", "%",  "c ",   "<=", "<= 1",
                                            "1", "-0", "\t", "99999999999", "2147483648",  "\r", "<= 2", ">=", "+"};
  generators::random rng(77);
  int read_ok = 0, refused = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string text = seeds[rng.below(seeds.size())];
    for (std::uint64_t edits = 1 + rng.below(3); edits > 0 && !text.empty(); --edits) {
      const std::size_t at = rng.below(text.size());
      switch (rng.below(4)) {
        case 0:
          text[at] = static_cast<char>(rng.below(4) == 0 ? rng.below(256) : " 0-1\n%cp<="[rng.below(11)]);
          break;
        case 1:
          text.resize(at);
          break;
        case 2:
          text.insert(at, inserts[rng.below(inserts.size())]);
          break;
        default:
          text.erase(at, 1 + rng.below(4));
          break;
      }
    }
    const bool zipped = rng.below(5) == 0;
    const bool damaged = zipped && rng.below(2) == 0;  // then the text is not what is decoded
    std::string input = zipped ? gzip(text) : text;
    if (damaged) input[rng.below(input.size())] ^= static_cast<char>(1 + rng.below(255));
    SCOPED_TRACE(::testing::Message() << "round " << round << (zipped ? " (gzip)" : "") << ":\n" << text);

    std::istringstream in(input);
    std::int64_t ladder = 0;
    try {
      dimacs::problem p = dimacs::read(in, "m.cnf");
      entries es = numbers_of(p.f);  // without the ladders' clauses, which name auxiliary variables
      std::erase_if(es, [&](const entry& e) {
        return std::any_of(e.begin(), e.end(), [&](std::int32_t l) { return std::abs(l) > p.used_variables; });
      });
      const std::int32_t auxiliary = p.auxiliary_variables;
      formulas::free_all(p.f);
      ++read_ok;
      if (damaged) continue;
      const std::optional<entries> reference = reference_read(text, ladder);
      ASSERT_TRUE(reference.has_value()) << "read what the reference refuses";
      ASSERT_EQ(canonical(es), canonical(*reference));
      ASSERT_EQ(auxiliary, ladder);
    } catch (const dimacs::parse_error& e) {
      ++refused;
      ASSERT_EQ(std::string(e.what()).rfind("m.cnf:", 0), 0U);
      if (!damaged) {
        ASSERT_FALSE(reference_read(text, ladder).has_value()) << "refused: " << e.what();
      }
    }
  }
  EXPECT_GT(read_ok, 300);
  EXPECT_GT(refused, 300);
}

}  // namespace
}  // namespace nubrix::testing
