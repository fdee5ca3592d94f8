// binding.hpp — the binding machinery every class and function of the module uses:
// owned references, argument binding, conversions, access state, heap types and
// registration, error mapping and formatting.
#pragma once

#include "python/binding/access.hpp"
#include "python/binding/args.hpp"
#include "python/binding/call.hpp"
#include "python/binding/convert.hpp"
#include "python/binding/errors.hpp"
#include "python/binding/format.hpp"
#include "python/binding/ref.hpp"
#include "python/binding/types.hpp"
