// A packed copy of a formula, for the nubrix program's check of a model; tools/cli.cpp uses it.
#ifndef NUBRIX_TOOLS_FORMULA_IMAGE_HPP
#define NUBRIX_TOOLS_FORMULA_IMAGE_HPP

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include <nubrix/formulas.hpp>

namespace nubrix::cli {

// A copy of a formula to check the model against, taken before the solve takes the formula over.
// While the solve runs it is packed: each entry's bounds, then its literals, as variable-length
// numbers (zigzag, seven bits a byte), about a third of the size of the blocks themselves. After the
// solve, for_each_piece() lays the blocks out again a piece at a time, so that checking the model
// reuses the memory the solve released instead of taking as much again.
class formula_image {
 public:
  // Bytes of blocks that one piece of the check lays out: small enough to come from the memory the
  // solve released.
  static constexpr std::size_t piece_budget = 64 * 1024;

  explicit formula_image(const formulas::formula& f) : entries_(f.length()) {
    std::size_t packed = 0;
    for_each_number(f, [&](std::int32_t x) { packed += packed_size(x); });
    packed_ = std::make_unique_for_overwrite<std::uint8_t[]>(packed);
    std::uint8_t* at = packed_.get();
    for_each_number(f, [&](std::int32_t x) { at = pack(x, at); });
  }

  // Calls fn(piece) with the copy's entries in order, each piece a formula of whole consecutive
  // entries whose blocks take `budget` bytes or a little more (one entry at least), until fn returns
  // false; returns whether it never did. A piece lives only during its call.
  template <typename function>
  bool for_each_piece(std::size_t budget, function fn) const {
    std::vector<std::byte> blocks;
    std::vector<std::size_t> starts;
    struct owned_vector {
      formulas::formula f = formulas::clause_vectors::empty_vector;
      ~owned_vector() { f.destroy(); }
    } owned;
    formulas::formula& piece = owned.f;
    const std::uint8_t* from = packed_.get();
    for (std::int32_t i = 0; i < entries_;) {
      blocks.clear();
      starts.clear();
      for (; i < entries_ && (starts.empty() || blocks.size() < budget); ++i) {
        array_bounds bounds{};
        from = unpack_number(from, bounds.first);
        from = unpack_number(from, bounds.last);
        const std::int64_t length = std::int64_t{bounds.last} - bounds.first + 1;
        starts.push_back(blocks.size());
        blocks.resize(blocks.size() + clause_block_size(static_cast<std::size_t>(std::max<std::int64_t>(length, 0))));
        std::byte* const at = blocks.data() + starts.back();
        std::memcpy(at, &bounds, sizeof bounds);
        for (std::int64_t k = 0; k < length; ++k) {
          std::int32_t x = 0;
          from = unpack_number(from, x);
          std::memcpy(at + clause_header_size + k * sizeof(literal), &x, sizeof x);
        }
      }
      piece.clear();
      if (piece.capacity < static_cast<std::int32_t>(starts.size()))
        piece.reserve(static_cast<std::int32_t>(starts.size()));
      for (const std::size_t start : starts)
        piece.append(literal_array_access(reinterpret_cast<array_bounds*>(blocks.data() + start)));
      if (!fn(std::as_const(piece))) return false;
    }
    return true;
  }

 private:
  // Calls fn with every entry's first and last bound, then each of its literals.
  template <typename function>
  static void for_each_number(const formulas::formula& f, function fn) {
    for (std::int32_t i = f.first_index(); f.has_element(i); i = f.next(i)) {
      const literal_array_access c = f.get(i);
      fn(c.bounds()->first);
      fn(c.bounds()->last);
      for (std::int32_t k = 0; k < c.length(); ++k) fn(to_int(c.data()[k]));
    }
  }
  static std::uint32_t zigzag(std::int32_t x) noexcept {
    return (static_cast<std::uint32_t>(x) << 1) ^ static_cast<std::uint32_t>(x < 0 ? -1 : 0);
  }
  static std::size_t packed_size(std::int32_t x) noexcept {
    std::size_t n = 1;
    for (std::uint32_t z = zigzag(x); z >= 0x80; z >>= 7) ++n;
    return n;
  }
  static std::uint8_t* pack(std::int32_t x, std::uint8_t* at) noexcept {
    std::uint32_t z = zigzag(x);
    for (; z >= 0x80; z >>= 7) *at++ = static_cast<std::uint8_t>(z | 0x80);
    *at++ = static_cast<std::uint8_t>(z);
    return at;
  }
  static const std::uint8_t* unpack_number(const std::uint8_t* from, std::int32_t& x) noexcept {
    std::uint32_t z = 0;
    for (int shift = 0;; shift += 7) {
      const std::uint8_t b = *from++;
      z |= static_cast<std::uint32_t>(b & 0x7f) << shift;
      if (b < 0x80) break;
    }
    x = static_cast<std::int32_t>((z >> 1) ^ (0U - (z & 1)));
    return from;
  }

  std::int32_t entries_;
  std::unique_ptr<std::uint8_t[]> packed_;
};

}  // namespace nubrix::cli

#endif  // NUBRIX_TOOLS_FORMULA_IMAGE_HPP
