// Value and text conversions: every value, type code, quality word, server state, server status
// and file time the program shows becomes text here, so the same value reads the same wherever
// it appears and on every system.
//
// Variants are the platform's VARIANT. Functions that return a VARIANT hand over ownership: the
// caller clears it with VariantClear.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/NvStringList.h"
#include "foundation/NvSysUtils.h"
#include "platform/win32.h"

struct tagOPCSERVERSTATUS;

namespace nv {

// The data types an item can ask its server for. Up to vdtInt64 the ordinal is the base
// variant type code; everything beyond is vdtUnsupported.
enum TNvVarDataType {
    vdtDefault,
    vdtNull,
    vdtSmallint,
    vdtInteger,
    vdtSingle,
    vdtDouble,
    vdtCurrency,
    vdtDate,
    vdtOleStr,
    vdtDispatch,
    vdtError,
    vdtBoolean,
    vdtVariant,
    vdtUnknown,
    vdtDecimal,
    vdtUndefined,
    vdtShortint,
    vdtByte,
    vdtWord,
    vdtLongWord,
    vdtInt64,
    vdtUnsupported
};
constexpr int NvVarDataTypeCount = vdtUnsupported + 1;

// The word shown for the type ("Default", "Integer", ...).
std::string NvVarDataTypeName(TNvVarDataType type);
// The enumerator's own name ("vdtDefault", ...), as the data-type dialog lists it.
std::string NvVarDataTypeIdent(TNvVarDataType type);

constexpr VARTYPE NvVarTypeArrayFlag = 0x2000;
constexpr VARTYPE NvVarTypeByRefFlag = 0x4000;
constexpr VARTYPE NvVarTypeMask = 0x0FFF;

// "#EMPTY", "#NULL", "Error($80020004)", numbers, words, dates, strings; an array as its element
// texts joined by ";" in double quotes (inner quotes doubled). With showType the type name
// follows in braces: "#EMPTY{Default}", "\"1;2;3\"{Array of Integer}".
std::string VariantToStr(const VARIANT& value, bool showType = false);
// The elements of a one-dimensional array joined by ";", or "Array Dim=<n>" for any other number
// of dimensions.
std::string VarArrayToStr(const VARIANT& value);
// "Integer", "Array of Integer", "Array of Variant (Reference)", "72" for a type without a name.
std::string VarTypeToStr(VARTYPE code);
TNvVarDataType VarTypeToNvVarDataType(VARTYPE code);
VARTYPE NvVarDataTypeToVarType(TNvVarDataType type);

// The broad kind of a value: 0 none, 1 Boolean, 2 integer, 3 floating point or currency,
// 4 string, 5 date, 6 64-bit or unsigned 32-bit integer, 7 anything else.
int VariantKind(const VARIANT& value);
// Neither empty nor null; arrays count as values.
bool HasValue(const VARIANT& value);

// A VT_ARRAY | VT_BOOL with bounds 0..31 whose element i is bit i of the value. The VARIANT form
// converts the value to a 32-bit integer first and raises EConvertError when it cannot.
VARIANT IntToBoolArray(std::int32_t value);
VARIANT IntToBoolArray(const VARIANT& value);

// The value converted to `type` with the user's regional settings (numbers, Booleans and dates
// read as the user writes them). Raises EConvertError "Could not convert variant of type (String)
// into type (Double)" when it cannot be converted; the caller clears the result.
VARIANT ChangeVariantType(const VARIANT& value, VARTYPE type);
// "Good;Non-specific;Not limited": status, substatus and limit of the quality's low byte.
std::string QualityToStr(WORD quality);
// "Running", "Failed", "Not configured", "Suspended", "Test", else "No connection!".
std::string ServerStateToStr(DWORD state);
// Fills the list with eight Name=Value entries: ServerState, StartTime, CurrentTime,
// LastUpdateTime, GroupCount, BandWidth, Vendor, Version.
void ServerStatusToStrings(const tagOPCSERVERSTATUS& status, TNvStringList& list);

// UTC file time to a date-time value without a time-zone change; 0 when the time cannot be
// shown as a date (beyond the year 9999).
TDateTime FileTimeToDateTime(const FILETIME& fileTime);
TDateTime FileTimeToDateTime(std::uint64_t fileTime);
// The value of FileTimeToDateTime in the regional short date and long time format.
std::string FileTimeToStr(const FILETIME& fileTime);
std::string FileTimeToStr(std::uint64_t fileTime);

std::string BoolToText(bool value);
BOOL BoolToOPCBool(bool value);
bool OPCBoolToBool(BOOL value);

// ---------------------------------------------------------------------------------------------
// File versions

struct TNvFileVersion {
    WORD Major = 0;
    WORD Minor = 0;
    WORD Release = 0;
    WORD Build = 0;
};

// The file's version: on Windows its version resource; elsewhere files carry no version, except
// the running program itself, which reports the version it was built as.
bool TryGetFileVersion(const std::string& fileName, TNvFileVersion& version);
// As above; raises Exception "No version information available" when there is none.
TNvFileVersion GetFileVersion(const std::string& fileName);
// The format (for example "%d.%d.%d.%d") applied to major, minor, release and build; "" when
// the file has no version or the format does not fit.
std::string FileVersionToStr(const std::string& fileName, const std::string& format);
// The version this program was built as (build number 0 unless the build sets one).
TNvFileVersion ProgramVersion();
// The running program's own file.
std::string ProgramFileName();

}  // namespace nv
