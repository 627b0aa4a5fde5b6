#include "foundation/NvConvert.h"

#include <cstring>

#include "foundation/NvExceptions.h"
#include "opc/include/opcda.h"
#include "platform/NvWide.h"

namespace nv {

namespace {

struct TypeNames {
    const char* name;
    const char* ident;
};

constexpr TypeNames kTypeNames[NvVarDataTypeCount] = {
    {"Default", "vdtDefault"},   {"Null", "vdtNull"},
    {"Smallint", "vdtSmallint"}, {"Integer", "vdtInteger"},
    {"Single", "vdtSingle"},     {"Double", "vdtDouble"},
    {"Currency", "vdtCurrency"}, {"Date", "vdtDate"},
    {"OleStr", "vdtOleStr"},     {"Dispatch", "vdtDispatch"},
    {"Error", "vdtError"},       {"Boolean", "vdtBoolean"},
    {"Variant", "vdtVariant"},   {"Unknown", "vdtUnknown"},
    {"Decimal", "vdtDecimal"},   {"Undefined", "vdtUndefined"},
    {"Shortint", "vdtShortint"}, {"Byte", "vdtByte"},
    {"Word", "vdtWord"},         {"LongWord", "vdtLongWord"},
    {"Int64", "vdtInt64"},       {"Unsupported", "vdtUnsupported"},
};

// Digits of an unsigned number with a decimal separator `scale` places from the right; trailing
// zeros of the fraction and a bare separator are dropped.
std::string ScaledDigits(unsigned __int128 magnitude, int scale, bool negative) {
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
        magnitude /= 10;
    } while (magnitude != 0);
    while (static_cast<int>(digits.size()) <= scale)
        digits.insert(digits.begin(), '0');
    std::string whole = digits.substr(0, digits.size() - static_cast<std::size_t>(scale));
    std::string fraction = digits.substr(digits.size() - static_cast<std::size_t>(scale));
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    std::string text = negative && (whole != "0" || !fraction.empty()) ? "-" : "";
    text += whole;
    if (!fraction.empty())
        text += FormatSettings().DecimalSeparator + fraction;
    return text;
}

std::string CurrencyToStr(const CY& value) {
    // All four decimals of the fixed-point value are significant; no rounding through double.
    bool negative = value.int64 < 0;
    unsigned __int128 magnitude =
        negative ? static_cast<unsigned __int128>(-(static_cast<__int128>(value.int64))) : value.int64;
    return ScaledDigits(magnitude, 4, negative);
}

std::string DecimalToStr(const DECIMAL& value) {
    unsigned __int128 magnitude = (static_cast<unsigned __int128>(value.Hi32) << 64) | value.Lo64;
    int scale = value.scale <= 28 ? value.scale : 28;
    return ScaledDigits(magnitude, scale, (value.sign & DECIMAL_NEG) != 0);
}

std::string BstrToStr(BSTR text) {
    if (text == nullptr)
        return {};
    return ToUtf8(WideStringView(text, SysStringLen(text)));
}

[[noreturn]] void CannotShow(VARTYPE vt) {
    throw EConvertError(Format("Cannot show a value of type %s as text", VarTypeToStr(vt)));
}

// The text of a scalar (not an array, not empty, null or error) stored at `data`: the value part
// of a VARIANT, the target of a by-reference VARIANT, or an element of a safe array.
std::string ScalarToStr(VARTYPE vt, const void* data) {
    VARTYPE base = vt & NvVarTypeMask;
    if (data == nullptr)
        CannotShow(vt);
    auto read = [data](auto sample) {
        decltype(sample) value;
        std::memcpy(&value, data, sizeof(value));
        return value;
    };
    switch (base) {
        case VT_I1:
            return IntToStr(read(static_cast<signed char>(0)));
        case VT_UI1:
            return IntToStr(read(static_cast<BYTE>(0)));
        case VT_I2:
            return IntToStr(read(static_cast<SHORT>(0)));
        case VT_UI2:
            return IntToStr(read(static_cast<USHORT>(0)));
        case VT_I4:
        case VT_INT:
            return IntToStr(read(static_cast<LONG>(0)));
        case VT_UI4:
        case VT_UINT:
            return IntToStr(read(static_cast<ULONG>(0)));
        case VT_I8:
            return IntToStr(read(static_cast<LONGLONG>(0)));
        case VT_UI8: {
            ULONGLONG value = read(static_cast<ULONGLONG>(0));
            return ScaledDigits(value, 0, false);
        }
        case VT_R4:
            return FloatToStr(static_cast<double>(read(static_cast<FLOAT>(0))));
        case VT_R8:
            return FloatToStr(read(static_cast<DOUBLE>(0)));
        case VT_CY:
            return CurrencyToStr(read(CY{}));
        case VT_DATE:
            return DateTimeToStr(read(static_cast<DATE>(0)));
        case VT_BOOL:
            return BoolToText(read(static_cast<VARIANT_BOOL>(0)) != 0);
        case VT_BSTR:
            return BstrToStr(read(static_cast<BSTR>(nullptr)));
        case VT_DECIMAL:
            return DecimalToStr(read(DECIMAL{}));
        case VT_ERROR:
            return Format("Error($%x)", read(static_cast<SCODE>(0)));
        case VT_VARIANT:
            // Only reachable by reference or as an array element: the target is a VARIANT.
            return VariantToStr(*static_cast<const VARIANT*>(data), false);
        default:
            CannotShow(vt);
    }
}

// The bytes one element of the type takes in an array; 0 for a type that is not read as a scalar.
UINT ElementBytes(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_ERROR:
            return 4;
        case VT_I8:
        case VT_UI8:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
            return 8;
        case VT_BSTR:
            return sizeof(BSTR);
        case VT_DECIMAL:
            return sizeof(DECIMAL);
        case VT_VARIANT:
            return sizeof(VARIANT);
        default:
            return 0;
    }
}

// The type the elements are read as: the array's own. A server may name another one in the
// VARIANT (an array of bytes called an array of doubles), and reading by that name would go past
// the elements or take numbers for pointers. An array that does not say its type is read by the
// VARIANT's only when its elements have that type's size.
VARTYPE ArrayElementType(SAFEARRAY* array, VARTYPE named) {
    VARTYPE own = VT_EMPTY;
    if (SUCCEEDED(SafeArrayGetVartype(array, &own)))
        return own;
    if (ElementBytes(named) != 0 && SafeArrayGetElemsize(array) == ElementBytes(named))
        return named;
    throw EConvertError("Cannot read the elements of an array");
}

// The element at `index` of a one-dimensional array as a VARIANT that borrows its contents
// (never cleared by the caller).
std::string ElementToStr(SAFEARRAY* array, VARTYPE elementType, LONG index) {
    void* element = nullptr;
    HRESULT hr = SafeArrayPtrOfIndex(array, &index, &element);
    if (FAILED(hr) || element == nullptr)
        throw EConvertError(Format("Cannot read element %d of an array", index));
    if (elementType == VT_VARIANT)
        return VariantToStr(*static_cast<const VARIANT*>(element), false);
    if (elementType == VT_EMPTY || elementType == VT_NULL)
        return elementType == VT_EMPTY ? "#EMPTY" : "#NULL";
    return ScalarToStr(elementType, element);
}

}  // namespace

std::string NvVarDataTypeName(TNvVarDataType type) {
    int index = static_cast<int>(type);
    if (index < 0 || index >= NvVarDataTypeCount)
        index = vdtUnsupported;
    return kTypeNames[index].name;
}

std::string NvVarDataTypeIdent(TNvVarDataType type) {
    int index = static_cast<int>(type);
    if (index < 0 || index >= NvVarDataTypeCount)
        index = vdtUnsupported;
    return kTypeNames[index].ident;
}

std::string VariantToStr(const VARIANT& value, bool showType) {
    std::string text;
    VARTYPE vt = value.vt;
    if ((vt & VT_ARRAY) != 0) {
        text = AnsiQuotedStr(VarArrayToStr(value), '"');
    } else if (vt == VT_EMPTY) {
        text = "#EMPTY";
    } else if (vt == VT_NULL) {
        text = "#NULL";
    } else if ((vt & VT_BYREF) != 0) {
        text = ScalarToStr(vt, value.byref);
    } else if (vt == VT_DECIMAL) {
        // A decimal fills the whole VARIANT, type field included, rather than its value part.
        text = DecimalToStr(value.decVal);
    } else if (vt == VT_VARIANT) {
        // A variant only holds another variant by reference.
        CannotShow(vt);
    } else {
        text = ScalarToStr(vt, &value.llVal);
    }
    if (showType)
        text = Format("%s{%s}", text, VarTypeToStr(vt));
    return text;
}

std::string VarArrayToStr(const VARIANT& value) {
    if ((value.vt & VT_ARRAY) == 0)
        return VariantToStr(value, false);
    SAFEARRAY* array = (value.vt & VT_BYREF) != 0 ? (value.pparray ? *value.pparray : nullptr) : value.parray;
    if (array == nullptr)
        return {};
    UINT dims = SafeArrayGetDim(array);
    if (dims != 1)
        return Format("Array Dim=%d", dims);
    LONG low = 0;
    LONG high = -1;
    if (FAILED(SafeArrayGetLBound(array, 1, &low)) || FAILED(SafeArrayGetUBound(array, 1, &high)))
        return {};
    VARTYPE elementType = ArrayElementType(array, value.vt & NvVarTypeMask);
    if (FAILED(SafeArrayLock(array)))
        throw EConvertError("Cannot read the elements of an array");
    std::string text;
    try {
        // Counted wider than LONG: an array may end at the largest index there is.
        for (std::int64_t i = low; i <= high; ++i) {
            if (i > low)
                text += ';';
            text += ElementToStr(array, elementType, static_cast<LONG>(i));
        }
    } catch (...) {
        SafeArrayUnlock(array);
        throw;
    }
    SafeArrayUnlock(array);
    return text;
}

std::string VarTypeToStr(VARTYPE code) {
    VARTYPE base = code & NvVarTypeMask;
    std::string name = base <= vdtInt64 ? kTypeNames[base].name : IntToStr(base);
    if ((code & NvVarTypeArrayFlag) != 0)
        name = Format("Array of %s", name);
    if ((code & NvVarTypeByRefFlag) != 0)
        name = Format("%s (Reference)", name);
    return name;
}

TNvVarDataType VarTypeToNvVarDataType(VARTYPE code) {
    VARTYPE base = code & NvVarTypeMask;
    return base <= vdtInt64 ? static_cast<TNvVarDataType>(base) : vdtUnsupported;
}

VARTYPE NvVarDataTypeToVarType(TNvVarDataType type) {
    if (type < vdtDefault || type >= vdtUnsupported)
        return VT_EMPTY;
    return static_cast<VARTYPE>(type);
}

int VariantKind(const VARIANT& value) {
    switch (value.vt & NvVarTypeMask) {
        case VT_EMPTY:
        case VT_NULL:
            return 0;
        case VT_BOOL:
            return 1;
        case VT_I2:
        case VT_I4:
        case VT_UI1:
        case VT_UI2:
            return 2;
        case VT_R4:
        case VT_R8:
        case VT_CY:
            return 3;
        case VT_BSTR:
        case 72:
        case 256:
            return 4;
        case VT_DATE:
            return 5;
        case VT_UI4:
        case VT_I8:
            return 6;
        default:
            return 7;
    }
}

bool HasValue(const VARIANT& value) {
    return value.vt > VT_NULL;
}

VARIANT IntToBoolArray(std::int32_t value) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_BOOL, 0, 32);
    if (array == nullptr)
        throw EOutOfMemory("Cannot create a Boolean array");
    VARIANT_BOOL* bits = nullptr;
    if (FAILED(SafeArrayAccessData(array, reinterpret_cast<void**>(&bits)))) {
        SafeArrayDestroy(array);
        throw EOutOfMemory("Cannot create a Boolean array");
    }
    const auto pattern = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 32; ++i)
        bits[i] = (pattern >> i) & 1U ? VARIANT_TRUE : VARIANT_FALSE;
    SafeArrayUnaccessData(array);
    VARIANT result;
    VariantInit(&result);
    result.vt = VT_ARRAY | VT_BOOL;
    result.parray = array;
    return result;
}

VARIANT IntToBoolArray(const VARIANT& value) {
    // An unsigned 32-bit value is a bit pattern, not a number that must fit a signed integer.
    VARTYPE base = value.vt & ~VT_BYREF;
    const void* data = (value.vt & VT_BYREF) != 0 ? value.byref : &value.llVal;
    if ((base == VT_UI4 || base == VT_UINT) && data != nullptr) {
        std::uint32_t pattern;
        std::memcpy(&pattern, data, sizeof(pattern));
        return IntToBoolArray(static_cast<std::int32_t>(pattern));
    }
    VARIANT number;
    VariantInit(&number);
    HRESULT hr = VariantChangeTypeEx(&number, &value, LOCALE_USER_DEFAULT, 0, VT_I4);
    if (FAILED(hr)) {
        VariantClear(&number);
        throw EConvertError(Format("Cannot convert a value of type %s to Integer", VarTypeToStr(value.vt)));
    }
    std::int32_t result = number.lVal;
    VariantClear(&number);
    return IntToBoolArray(result);
}

VARIANT ChangeVariantType(const VARIANT& value, VARTYPE type) {
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = VariantChangeTypeEx(&result, &value, LOCALE_USER_DEFAULT, 0, type);
    if (FAILED(hr)) {
        VariantClear(&result);
        throw EConvertError(Format("Could not convert variant of type (%s) into type (%s)",
                                   VarTypeToStr(value.vt), VarTypeToStr(type)));
    }
    return result;
}

std::string QualityToStr(WORD quality) {
    const unsigned q = quality & 0xFF;
    std::string status;
    std::string substatus;
    switch (q & OPC_QUALITY_MASK) {
        case OPC_QUALITY_BAD:
            status = "Bad";
            switch (q & OPC_STATUS_MASK) {
                case 0x00:
                    substatus = "Non-specific";
                    break;
                case 0x04:
                    substatus = "Configuration error";
                    break;
                case 0x08:
                    substatus = "Not connected";
                    break;
                case 0x0C:
                    substatus = "Device failure";
                    break;
                case 0x10:
                    substatus = "Sensor failure";
                    break;
                case 0x14:
                    substatus = "Last known value";
                    break;
                case 0x18:
                    substatus = "Communication failure";
                    break;
                case 0x1C:
                    substatus = "Out of service";
                    break;
                default:
                    substatus = "N/A";
                    break;
            }
            break;
        case OPC_QUALITY_UNCERTAIN:
            status = "Uncertain";
            switch (q & OPC_STATUS_MASK) {
                case 0x40:
                    substatus = "Non-specific";
                    break;
                case 0x44:
                    substatus = "Last usable";
                    break;
                case 0x50:
                    substatus = "Sensor not accurate";
                    break;
                case 0x54:
                    substatus = "Limits exceeded";
                    break;
                case 0x58:
                    substatus = "Sub-normal";
                    break;
                default:
                    substatus = "N/A";
                    break;
            }
            break;
        case OPC_QUALITY_GOOD:
            status = "Good";
            switch (q & OPC_STATUS_MASK) {
                case 0xC0:
                    substatus = "Non-specific";
                    break;
                case 0xD8:
                    substatus = "Local override";
                    break;
                default:
                    substatus = "N/A";
                    break;
            }
            break;
        default:
            // 0x80 is no quality OPC defines, so it has no substatus either.
            status = "N/A";
            break;
    }
    static const char* const kLimits[4] = {"Not limited", "At Low limit", "At High limit", "Constant"};
    return status + ";" + substatus + ";" + kLimits[q & OPC_LIMIT_MASK];
}

std::string ServerStateToStr(DWORD state) {
    switch (state) {
        case OPC_STATUS_RUNNING:
            return "Running";
        case OPC_STATUS_FAILED:
            return "Failed";
        case OPC_STATUS_NOCONFIG:
            return "Not configured";
        case OPC_STATUS_SUSPENDED:
            return "Suspended";
        case OPC_STATUS_TEST:
            return "Test";
        default:
            return "No connection!";
    }
}

void ServerStatusToStrings(const tagOPCSERVERSTATUS& status, TNvStringList& list) {
    // Entries are added one by one rather than parsed back from a quoted, comma-separated text,
    // so a vendor text with quotes or commas still gives exactly eight entries.
    list.BeginUpdate();
    try {
        list.Clear();
        list.Add("ServerState=" + ServerStateToStr(static_cast<DWORD>(status.dwServerState)));
        list.Add("StartTime=" + FileTimeToStr(status.ftStartTime));
        list.Add("CurrentTime=" + FileTimeToStr(status.ftCurrentTime));
        list.Add("LastUpdateTime=" + FileTimeToStr(status.ftLastUpdateTime));
        list.Add(Format("GroupCount=%d", static_cast<std::int32_t>(status.dwGroupCount)));
        list.Add(Format("BandWidth=%d", static_cast<std::int32_t>(status.dwBandWidth)));
        list.Add("Vendor=" + ToUtf8(status.szVendorInfo));
        list.Add(Format("Version=%d.%d Build %d", status.wMajorVersion, status.wMinorVersion,
                        status.wBuildNumber));
    } catch (...) {
        list.EndUpdate();
        throw;
    }
    list.EndUpdate();
}

TDateTime FileTimeToDateTime(const FILETIME& fileTime) {
    SYSTEMTIME st{};
    if (!FileTimeToSystemTime(&fileTime, &st))
        return 0;
    TDateTime date = 0;
    TDateTime time = 0;
    if (!TryEncodeDate(st.wYear, st.wMonth, st.wDay, date) ||
        !TryEncodeTime(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds, time))
        return 0;
    return ComposeDateTime(date, time);
}

TDateTime FileTimeToDateTime(std::uint64_t fileTime) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(fileTime & 0xFFFFFFFFU);
    ft.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
    return FileTimeToDateTime(ft);
}

std::string FileTimeToStr(const FILETIME& fileTime) {
    return DateTimeToStr(FileTimeToDateTime(fileTime));
}

std::string FileTimeToStr(std::uint64_t fileTime) {
    return DateTimeToStr(FileTimeToDateTime(fileTime));
}

std::string BoolToText(bool value) {
    return value ? "True" : "False";
}

BOOL BoolToOPCBool(bool value) {
    return value ? 1 : 0;
}

bool OPCBoolToBool(BOOL value) {
    return value != 0;
}

}  // namespace nv
