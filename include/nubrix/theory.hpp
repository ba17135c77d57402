// What a theory supplies to the solver: a context type and a check of complete models.
#ifndef NUBRIX_THEORY_HPP
#define NUBRIX_THEORY_HPP

#include <concepts>
#include <initializer_list>
#include <memory>
#include <span>
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

// Where a theory given at run time puts the entries that explain a rejection: each is copied, so
// the theory allocates and releases nothing. Entries are checked as the search takes them over, as
// those of an explanation are (std::invalid_argument for literal 0 or a variable outside the model).
class explanation_sink {
 public:
  // A sink that appends to `entries`, which stays the caller's.
  explicit explanation_sink(formulas::formula& entries) noexcept : entries_(&entries) {}
  // Copies the clause of `lits`. std::bad_alloc leaves the entries as they were.
  void add_clause(std::span<const literal> lits);
  void add_clause(std::initializer_list<literal> lits) {
    add_clause(std::span<const literal>(lits.begin(), lits.size()));
  }
  // Adds "at most one of the variables from .. to is true"; nothing when to <= from.
  void add_at_most_one(variable from, variable to);

 private:
  formulas::formula* entries_;
};

// A theory given at run time: any callable bool(const model&, explanation_sink&), capturing lambdas
// included, called with each complete model; true accepts it, false rejects it with the entries
// put into the sink. The callable is borrowed, not copied: it must outlive the call that takes
// the check_function (a lambda written in the argument list does).
class check_function {
 public:
  template <typename callable>
  requires(!std::same_as<std::remove_cvref_t<callable>, check_function> &&
           std::is_invocable_r_v<bool, callable&, const model&, explanation_sink&>)
  check_function(callable&& f) noexcept  // NOLINT(google-explicit-constructor): a lambda converts as it is passed
      : object_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
        call_([](void* object, const model& m, explanation_sink& out) -> bool {
          return (*static_cast<std::remove_reference_t<callable>*>(object))(m, out);
        }) {}

  bool operator()(const model& m, explanation_sink& out) const { return call_(object_, m, out); }

 private:
  void* object_;
  bool (*call_)(void* object, const model& m, explanation_sink& out);
};

}  // namespace nubrix::theory

#endif  // NUBRIX_THEORY_HPP
