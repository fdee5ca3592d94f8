// binding.hpp — the binding machinery every class and function of the module uses:
// owned references, argument binding, conversions, access state, heap types and
// registration, error mapping and formatting.
#pragma once

#include "python/access.hpp"
#include "python/args.hpp"
#include "python/call.hpp"
#include "python/convert.hpp"
#include "python/errors.hpp"
#include "python/format.hpp"
#include "python/ref.hpp"
#include "python/types.hpp"
