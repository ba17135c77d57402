// Every module of the library in one include.
#ifndef NUBRIX_HPP
#define NUBRIX_HPP

#include <nubrix/builders.hpp>
#include <nubrix/control.hpp>
#include <nubrix/decisions.hpp>
#include <nubrix/dpll.hpp>
#include <nubrix/formulas.hpp>
#include <nubrix/heap.hpp>
#include <nubrix/helpers.hpp>
#include <nubrix/internals.hpp>
#include <nubrix/nubrix.hpp>
#include <nubrix/solver.hpp>
#include <nubrix/theory.hpp>
#include <nubrix/vectors.hpp>

#endif  // NUBRIX_HPP
