// Reading and writing speed of the DIMACS component, in bytes of text per second: random 3-SAT text,
// plain and gzip-compressed (compressed in memory, so that the disk takes no part), and the writer.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <istream>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>

#include <nubrix/dimacs.hpp>

#include "generators.hpp"

namespace {

using namespace nubrix;

// DIMACS text of random 3-SAT over n variables at 4.2 clauses per variable: about 21 bytes a clause.
std::string random_text(std::int32_t n) {
  generators::instance g = generators::random_ksat(3, n, 4.2, 1);
  std::ostringstream out;
  dimacs::write(out, g.f, g.variables);
  formulas::free_all(g.f);
  return out.str();
}

std::string gzip(const std::string& text) {
  z_stream zs{};
  if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::string out(deflateBound(&zs, text.size()), '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  zs.avail_in = static_cast<uInt>(text.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  if (status != Z_STREAM_END) throw std::runtime_error("deflate failed");
  return out;
}

// A stream over bytes already in memory, read without copying them first.
class memory_buffer : public std::streambuf {
 public:
  explicit memory_buffer(const std::string& bytes) {
    char* start = const_cast<char*>(bytes.data());
    setg(start, start, start + bytes.size());
  }
};

// A stream that counts what is written to it and keeps nothing.
class counting_buffer : public std::streambuf {
 public:
  std::size_t count = 0;

 protected:
  std::streamsize xsputn(const char*, std::streamsize n) override {
    count += static_cast<std::size_t>(n);
    return n;
  }
  int_type overflow(int_type c) override {
    ++count;
    return traits_type::not_eof(c);
  }
};

// Reads `input` once per iteration and releases the formula; the rate counts bytes of text.
void read_benchmark(benchmark::State& state, const std::string& input, std::size_t text_bytes) {
  for (auto _ : state) {
    memory_buffer bytes(input);
    std::istream in(&bytes);
    dimacs::problem p = dimacs::read(in, "bench.cnf");
    benchmark::DoNotOptimize(p.f.e);
    formulas::free_all(p.f);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text_bytes));
}

void read_plain(benchmark::State& state) {
  const std::string text = random_text(static_cast<std::int32_t>(state.range(0)));
  read_benchmark(state, text, text.size());
}

void read_gzip(benchmark::State& state) {
  const std::string text = random_text(static_cast<std::int32_t>(state.range(0)));
  read_benchmark(state, gzip(text), text.size());
}

void write_plain(benchmark::State& state) {
  generators::instance g = generators::random_ksat(3, static_cast<std::int32_t>(state.range(0)), 4.2, 1);
  std::size_t bytes = 0;
  for (auto _ : state) {
    counting_buffer sink;
    std::ostream out(&sink);
    dimacs::write(out, g.f, g.variables);
    bytes = sink.count;
  }
  formulas::free_all(g.f);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
}

// 10 000 variables give about 0.9 MB of text, 1 000 000 about 100 MB.
BENCHMARK(read_plain)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(read_gzip)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(write_plain)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
