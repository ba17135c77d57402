// Every module of the library in one include.
#ifndef NUBRIX_HPP
#define NUBRIX_HPP

#include <nubrix/nubrix.hpp>
#include <nubrix/heap.hpp>
#include <nubrix/vectors.hpp>
#include <nubrix/internals.hpp>
#include <nubrix/formulas.hpp>
#include <nubrix/builders.hpp>
#include <nubrix/decisions.hpp>
#include <nubrix/theory.hpp>
#include <nubrix/dpll.hpp>
#include <nubrix/helpers.hpp>

#endif  // NUBRIX_HPP
