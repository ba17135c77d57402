// The DIMACS fuzzer: the input is read as a DIMACS file (plain or gzip, "p cnf" or "p cnf+"). A
// refusal must be a dimacs::parse_error that leaves nothing allocated. A problem that is read must
// be well formed, and read back the same after dimacs::write; its writing must be a fixed point;
// its expanded writing must give the ranges' pairwise clauses; its gzip form must read the same;
// and failing one of the read's heap requests must raise std::bad_alloc and leave nothing allocated.
// A failed check prints what differed and aborts.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nubrix/dimacs.hpp>
#include <nubrix/heap.hpp>

#include "oracle.hpp"

namespace nubrix::fuzz {
namespace {

namespace probe = internals::heap_probe;

void require(bool ok, const char* what, const std::string& detail = {}) {
  if (ok) return;
  std::fprintf(stderr, "dimacs check failed: %s\n%s\n", what, detail.c_str());
  std::abort();
}

// What a read gave, as plain values.
struct reading {
  entries es;
  std::int32_t variables = 0;
  std::int32_t used = 0;       // the highest variable the file names
  std::int32_t auxiliary = 0;  // the ladders' variables
  std::int32_t formula_variables = 0;
  std::int32_t declared = 0;
  bool cardinality = false;
  std::vector<std::string> warnings;
};

entries numbers_of(const formulas::formula& f) {
  entries out;
  for (std::int32_t i = f.first_index(); f.has_element(i); i = f.next(i)) {
    entry e;
    for (const literal l : f.get(i)) e.push_back(to_int(l));
    out.push_back(e);
  }
  return out;
}

// The ladders that replace long at-most-one lines, on problems small enough for brute force: for
// every assignment of the file's variables, settle_auxiliary completes it to a model of f exactly when
// some values of the auxiliary variables do.
void check_ladders(const dimacs::problem& p) {
  if (p.auxiliary_variables == 0 || p.formula_variables() > 14) return;
  const std::vector<condition> cs = compile(numbers_of(p.f));
  const std::int32_t first_auxiliary = p.used_variables + 2;
  for (assignment base = 0; base < assignment{1} << p.used_variables; ++base) {
    bool some = false;
    for (assignment x = 0; x < assignment{1} << p.auxiliary_variables && !some; ++x)
      some = holds(cs, base | x << (first_auxiliary - 1));
    model m(1, p.formula_variables());
    for (std::int32_t v = 1; v <= p.used_variables; ++v)
      m[variable{v}] = is_true(base, v) ? variable_value::true_ : variable_value::false_;
    dimacs::settle_auxiliary(p.f, p, m);
    for (std::int32_t v = first_auxiliary; v <= p.formula_variables(); ++v)
      require(m[variable{v}] != variable_value::unset, "settle_auxiliary left an auxiliary variable unset");
    require((formulas::satisfies(p.f, m) == formulas::sat_result::sat) == some,
            "settle_auxiliary does not complete exactly the assignments that the ladders allow");
  }
}

// Reads `text`; none when it is refused. Any other exception escapes (and ends the run).
std::optional<reading> read_text(const std::string& text) {
  std::istringstream in(text);
  try {
    dimacs::problem p = dimacs::read(in, "input");
    reading r{numbers_of(p.f),         p.variables,        p.used_variables, p.auxiliary_variables,
              p.formula_variables(), p.declared_clauses, p.cardinality,    p.warnings};
    check_ladders(p);
    formulas::free_all(p.f);
    return r;
  } catch (const dimacs::parse_error& e) {
    require(probe::read().live() == 0, "a refused input left library blocks allocated", e.what());
    return std::nullopt;
  }
}

// f's text as dimacs::write gives it.
std::string written(const entries& es, std::int32_t variables, bool expand) {
  formulas::formula f = formulas::clause_vectors::empty_vector;
  try {
    for (const entry& e : es) {
      std::vector<literal> lits;
      for (const std::int32_t x : e) lits.push_back(literal{x});
      const literal_array_access c = new_clause(lits);
      try {
        f.append(c);
      } catch (...) {
        free(c);
        throw;
      }
    }
    std::ostringstream out;
    dimacs::write(out, f, variables, {.expand_at_most_one = expand});
    formulas::free_all(f);
    return out.str();
  } catch (...) {
    formulas::free_all(f);
    throw;
  }
}

std::string gzipped(const std::string& text) {
  z_stream zs{};
  require(deflateInit2(&zs, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK, "deflateInit2");
  std::string out(deflateBound(&zs, text.size()), '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  zs.avail_in = static_cast<uInt>(text.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  require(deflate(&zs, Z_FINISH) == Z_STREAM_END, "deflate");
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

// Every entry read is well formed: a range [0, from, to] covers three or more of the variables the
// file names and appears only under "p cnf+"; a clause's literals name those variables, or the
// ladders' auxiliary ones, which start above used + 1 and exist only under "p cnf+".
void check_well_formed(const reading& r) {
  require(r.used >= 0 && r.used <= r.variables && r.auxiliary >= 0 && (r.auxiliary == 0 || r.cardinality),
          "the variable counts of a problem");
  const std::int32_t top = r.auxiliary == 0 ? r.used : r.formula_variables;
  for (const entry& e : r.es) {
    if (is_range(e)) {
      require(e.size() == 3 && r.cardinality && e[1] >= 1 && e[2] <= r.used && e[2] - e[1] >= 2,
              "a range entry that the reader cannot have made");
      continue;
    }
    for (const std::int32_t l : e) {
      require(l != 0 && l != INT32_MIN && std::abs(l) <= top, "a literal outside the problem's variables");
      require(r.auxiliary == 0 || std::abs(l) != r.used + 1, "a literal of the variable kept free between ladders");
    }
  }
}

// The entries with every range replaced by its pairwise clauses, sorted: the order of the clauses
// that dimacs::write expands them into is not promised.
entries expanded(const entries& es) {
  entries out;
  for (const entry& e : es) {
    if (!is_range(e)) {
      out.push_back(e);
      continue;
    }
    for (std::int32_t a = e[1]; a <= e[2]; ++a)
      for (std::int32_t b = a + 1; b <= e[2]; ++b) out.push_back({-a, -b});
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The number of pairwise clauses the expansion of es writes.
std::int64_t pairs_in(const entries& es) {
  std::int64_t pairs = 0;
  for (const entry& e : es) {
    if (!is_range(e)) continue;
    const std::int64_t n = std::int64_t{e[2]} - e[1] + 1;
    pairs += n * (n - 1) / 2;
  }
  return pairs;
}

void run(const std::uint8_t* data, std::size_t size) {
  probe::reset();
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::optional<reading> r = read_text(text);
  if (!r) return;
  const probe::counts traffic = probe::read();
  require(traffic.live() == 0, "blocks still live after releasing the problem");
  check_well_formed(*r);

  // Written over every variable (the ladders' too) and read back: the same entries, the ladders as
  // plain clauses, the header telling the extension exactly when a range is written, and writing
  // again gives the same text.
  const std::int32_t variables = std::max(r->variables, r->formula_variables);
  const std::string once = written(r->es, variables, false);
  const std::optional<reading> back = read_text(once);
  require(back.has_value(), "the writer's text is refused", once);
  require(back->es == r->es && back->variables == variables && back->auxiliary == 0,
          "the round trip changed the problem", once);
  std::int32_t named = 0;
  for (const entry& e : r->es)
    for (const std::int32_t l : e) named = std::max(named, std::abs(l));
  require(back->used == named, "the highest variable named, read back", once);
  const bool ranges = std::any_of(r->es.begin(), r->es.end(), is_range);
  require(back->cardinality == ranges && back->warnings.empty() &&
              back->declared == static_cast<std::int32_t>(r->es.size()),
          "the written header", once);
  require(written(back->es, back->variables, false) == once, "writing what was read back gives other text");

  // Expanded: plain "p cnf" with each range as its pairwise clauses.
  if (pairs_in(r->es) <= 20000) {
    const std::string plain = written(r->es, variables, true);
    const std::optional<reading> flat = read_text(plain);
    require(flat.has_value() && !flat->cardinality && flat->variables == variables, "the expanded text", plain);
    entries es = flat->es;
    std::sort(es.begin(), es.end());
    require(es == expanded(r->es), "the expanded text does not hold the pairwise clauses", plain);
  }

  // The same text compressed reads the same, warnings included.
  if (size < 2 || data[0] != 0x1f || data[1] != 0x8b) {
    const std::optional<reading> unzipped = read_text(gzipped(text));
    require(unzipped.has_value() && unzipped->es == r->es && unzipped->variables == r->variables &&
                unzipped->used == r->used && unzipped->auxiliary == r->auxiliary && unzipped->declared == r->declared && unzipped->cardinality == r->cardinality &&
                unzipped->warnings == r->warnings,
            "the gzip form of the input reads differently");
  }

  // One of the read's heap requests fails, chosen by the input's bytes.
  const std::int64_t requests = traffic.allocations + traffic.reallocations;
  if (requests == 0) return;
  std::uint64_t hash = 14695981039346656037U;
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211U;
  probe::reset();
  probe::fail_request(1 + static_cast<std::int64_t>(hash % static_cast<std::uint64_t>(requests)));
  bool threw = false;
  try {
    std::istringstream in(text);
    dimacs::problem p = dimacs::read(in, "input");
    formulas::free_all(p.f);
  } catch (const std::bad_alloc&) {
    threw = true;
  }
  probe::fail_request(0);
  require(threw && probe::failure_raised(), "a failed heap request during the read did not raise std::bad_alloc");
  require(probe::read().live() == 0, "a read that ran out of memory left library blocks allocated");
}

}  // namespace
}  // namespace nubrix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  nubrix::fuzz::run(data, size);
  return 0;
}
