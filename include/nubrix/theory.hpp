// What a theory supplies to the solver: a context type and a check of complete models.
#ifndef NUBRIX_THEORY_HPP
#define NUBRIX_THEORY_HPP

#include <concepts>
#include <type_traits>

#include <nubrix/formulas.hpp>
#include <nubrix/nubrix.hpp>

namespace nubrix::theory {

// `check(ctx, m, explanation)` is called with each model the search completes. It returns true to
// accept m, or false to reject it, appending to `explanation` (empty on entry) clauses or
// at-most-one entries that every acceptable model satisfies; the solver takes them over. It may
// update ctx, must not change m, and may throw: the exception reaches the caller of solve, and the
// entries already appended are released. An entry that check fails to append is still check's own.
// Each entry must be a block of its own, appended once: a block appended twice, or one the solver
// already holds (an entry of the formula or of an earlier explanation), is outside the contract.
// Entries are checked as the solver takes them over, as solve checks the formula's: a null entry, a
// literal 0 or -2147483648 in a clause, or a variable outside m raises std::invalid_argument.
template <auto check, typename user_context>
concept check_operation = requires(user_context& ctx, const model& m, formulas::formula& explanation) {
  { check(ctx, m, explanation) } -> std::convertible_to<bool>;
};

// The theory of plain satisfiability, a `check` for any context: it accepts every model. A search
// over it knows that the first model it completes is the answer, and makes use of that.
struct every_model_accepted {
  template <typename user_context>
  bool operator()(user_context&, const model&, formulas::formula&) const noexcept {
    return true;
  }
};
inline constexpr every_model_accepted accept_every_model{};

// Whether `check` is accept_every_model.
template <auto check>
inline constexpr bool accepts_every_model = std::is_same_v<std::remove_cvref_t<decltype(check)>, every_model_accepted>;

}  // namespace nubrix::theory

#endif  // NUBRIX_THEORY_HPP
