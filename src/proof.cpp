// The encoding of DRAT proofs.
#include <nubrix/proof.hpp>

#include <charconv>
#include <cstdlib>

namespace nubrix {

void proof_writer::clause(const literal* l, std::int32_t n, bool deletion) {
  if (sink_.binary) {
    // 'a' or 'd', then each literal as 2 |l| + (l < 0) in 7-bit groups, low first, then 0.
    put(deletion ? 'd' : 'a');
    for (std::int32_t i = 0; i < n; ++i) {
      const std::int64_t x = to_int(l[i]);
      auto u = static_cast<std::uint64_t>(2 * std::llabs(x) + (x < 0 ? 1 : 0));
      while (u > 127) {
        put(static_cast<char>((u & 127) | 128));
        u >>= 7;
      }
      put(static_cast<char>(u));
    }
    put('\0');
    return;
  }
  if (deletion) {
    put('d');
    put(' ');
  }
  for (std::int32_t i = 0; i < n; ++i) {
    char digits[16];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, to_int(l[i]));
    for (const char* c = digits; c != end; ++c) put(*c);
    put(' ');
  }
  put('0');
  put('\n');
}

void proof_writer::flush() {
  if (used_ == 0) return;
  const std::size_t n = used_;
  used_ = 0;
  sink_.write(sink_.context, buffer_, n);
}

}  // namespace nubrix
