// Value conversions of the simulation servers: to a client's requested type and back.
#pragma once

#include "platform/win32.h"

namespace nv::sim {

// True if a value of type `from` can in principle be converted to `to` (VT_EMPTY: always).
bool CanConvertType(VARTYPE from, VARTYPE to);
// Converts scalars with VariantChangeType and one-dimensional arrays element by element.
// `out` must be initialised; it is cleared first.
HRESULT ConvertValue(const VARIANT& in, VARTYPE to, VARIANT* out);
// The numeric value of a scalar, for dead bands and range checks.
bool NumericValue(const VARIANT& v, double* out);

}  // namespace nv::sim
