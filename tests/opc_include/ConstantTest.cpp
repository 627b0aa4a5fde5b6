// Constant values that travel over the wire: result codes, quality bits, enumerations, property
// IDs and format names. Each group is checked against the published table and, where the values
// follow a rule, against the rule too, so a mistyped digit fails for a reason that is stated.
#include "opc/include/opc.h"
#include "opc/include/opcerror.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Code {
    const char* name;
    HRESULT value;
    unsigned expected;
};

#define CODE(name, expected) \
    { #name, name, expected }

TEST(OpcResultCodes, MatchThePublishedValues) {
    const Code codes[] = {
        CODE(OPC_E_INVALIDHANDLE, 0xC0040001u),
        CODE(OPC_E_BADTYPE, 0xC0040004u),
        CODE(OPC_E_PUBLIC, 0xC0040005u),
        CODE(OPC_E_BADRIGHTS, 0xC0040006u),
        CODE(OPC_E_UNKNOWNITEMID, 0xC0040007u),
        CODE(OPC_E_INVALIDITEMID, 0xC0040008u),
        CODE(OPC_E_INVALIDFILTER, 0xC0040009u),
        CODE(OPC_E_UNKNOWNPATH, 0xC004000Au),
        CODE(OPC_E_RANGE, 0xC004000Bu),
        CODE(OPC_E_DUPLICATENAME, 0xC004000Cu),
        CODE(OPC_S_UNSUPPORTEDRATE, 0x0004000Du),
        CODE(OPC_S_CLAMP, 0x0004000Eu),
        CODE(OPC_S_INUSE, 0x0004000Fu),
        CODE(OPC_E_INVALIDCONFIGFILE, 0xC0040010u),
        CODE(OPC_E_NOTFOUND, 0xC0040011u),
        CODE(OPC_E_INVALID_PID, 0xC0040203u),
        CODE(OPC_E_DEADBANDNOTSET, 0xC0040400u),
        CODE(OPC_E_DEADBANDNOTSUPPORTED, 0xC0040401u),
        CODE(OPC_E_NOBUFFERING, 0xC0040402u),
        CODE(OPC_E_INVALIDCONTINUATIONPOINT, 0xC0040403u),
        CODE(OPC_S_DATAQUEUEOVERFLOW, 0x00040404u),
        CODE(OPC_E_RATENOTSET, 0xC0040405u),
        CODE(OPC_E_NOTSUPPORTED, 0xC0040406u),
        CODE(OPCCPX_E_TYPE_CHANGED, 0xC0040407u),
        CODE(OPCCPX_E_FILTER_DUPLICATE, 0xC0040408u),
        CODE(OPCCPX_E_FILTER_INVALID, 0xC0040409u),
        CODE(OPCCPX_E_FILTER_ERROR, 0xC004040Au),
        CODE(OPCCPX_S_FILTER_NO_DATA, 0x0004040Bu),
    };
    for (const auto& code : codes) {
        EXPECT_EQ(static_cast<unsigned>(code.value), code.expected) << code.name;
        // The name says which side of SUCCEEDED/FAILED the code must fall on; a code on the wrong
        // side would make the client treat a failed item as good or the reverse.
        const bool isError = std::string(code.name).find("_E_") != std::string::npos;
        EXPECT_EQ(FAILED(code.value), isError) << code.name;
        EXPECT_EQ(HRESULT_FACILITY(code.value), FACILITY_ITF) << code.name;
    }
}

TEST(OpcQuality, MatchesThePublishedBits) {
    EXPECT_EQ(OPC_QUALITY_MASK, 0xC0);
    EXPECT_EQ(OPC_STATUS_MASK, 0xFC);
    EXPECT_EQ(OPC_LIMIT_MASK, 0x03);
    EXPECT_EQ(OPC_QUALITY_BAD, 0x00);
    EXPECT_EQ(OPC_QUALITY_UNCERTAIN, 0x40);
    EXPECT_EQ(OPC_QUALITY_GOOD, 0xC0);
    EXPECT_EQ(OPC_QUALITY_CONFIG_ERROR, 0x04);
    EXPECT_EQ(OPC_QUALITY_NOT_CONNECTED, 0x08);
    EXPECT_EQ(OPC_QUALITY_DEVICE_FAILURE, 0x0C);
    EXPECT_EQ(OPC_QUALITY_SENSOR_FAILURE, 0x10);
    EXPECT_EQ(OPC_QUALITY_LAST_KNOWN, 0x14);
    EXPECT_EQ(OPC_QUALITY_COMM_FAILURE, 0x18);
    EXPECT_EQ(OPC_QUALITY_OUT_OF_SERVICE, 0x1C);
    EXPECT_EQ(OPC_QUALITY_WAITING_FOR_INITIAL_DATA, 0x20);
    EXPECT_EQ(OPC_QUALITY_LAST_USABLE, 0x44);
    EXPECT_EQ(OPC_QUALITY_SENSOR_CAL, 0x50);
    EXPECT_EQ(OPC_QUALITY_EGU_EXCEEDED, 0x54);
    EXPECT_EQ(OPC_QUALITY_SUB_NORMAL, 0x58);
    EXPECT_EQ(OPC_QUALITY_LOCAL_OVERRIDE, 0xD8);
    EXPECT_EQ(OPC_LIMIT_OK, 0x00);
    EXPECT_EQ(OPC_LIMIT_LOW, 0x01);
    EXPECT_EQ(OPC_LIMIT_HIGH, 0x02);
    EXPECT_EQ(OPC_LIMIT_CONST, 0x03);
}

// Substatus values carry their quality bits and no limit bits, so that (q & OPC_STATUS_MASK) can
// be compared with them directly. The client's "bad: communication failure" item state (0x18)
// depends on this.
TEST(OpcQuality, SubstatusValuesBelongToTheirQuality) {
    struct Substatus {
        const char* name;
        int value;
        int quality;
    };
    const Substatus substatus[] = {
        {"CONFIG_ERROR", OPC_QUALITY_CONFIG_ERROR, OPC_QUALITY_BAD},
        {"NOT_CONNECTED", OPC_QUALITY_NOT_CONNECTED, OPC_QUALITY_BAD},
        {"DEVICE_FAILURE", OPC_QUALITY_DEVICE_FAILURE, OPC_QUALITY_BAD},
        {"SENSOR_FAILURE", OPC_QUALITY_SENSOR_FAILURE, OPC_QUALITY_BAD},
        {"LAST_KNOWN", OPC_QUALITY_LAST_KNOWN, OPC_QUALITY_BAD},
        {"COMM_FAILURE", OPC_QUALITY_COMM_FAILURE, OPC_QUALITY_BAD},
        {"OUT_OF_SERVICE", OPC_QUALITY_OUT_OF_SERVICE, OPC_QUALITY_BAD},
        {"WAITING_FOR_INITIAL_DATA", OPC_QUALITY_WAITING_FOR_INITIAL_DATA, OPC_QUALITY_BAD},
        {"LAST_USABLE", OPC_QUALITY_LAST_USABLE, OPC_QUALITY_UNCERTAIN},
        {"SENSOR_CAL", OPC_QUALITY_SENSOR_CAL, OPC_QUALITY_UNCERTAIN},
        {"EGU_EXCEEDED", OPC_QUALITY_EGU_EXCEEDED, OPC_QUALITY_UNCERTAIN},
        {"SUB_NORMAL", OPC_QUALITY_SUB_NORMAL, OPC_QUALITY_UNCERTAIN},
        {"LOCAL_OVERRIDE", OPC_QUALITY_LOCAL_OVERRIDE, OPC_QUALITY_GOOD},
    };
    for (const auto& s : substatus) {
        EXPECT_EQ(s.value & OPC_QUALITY_MASK, s.quality) << s.name;
        EXPECT_EQ(s.value & OPC_LIMIT_MASK, 0) << s.name;
        EXPECT_EQ(s.value & ~OPC_STATUS_MASK & 0xFF, 0) << s.name;
    }
    // A good value at its high limit still reads as good once the limit bits are masked off.
    const WORD quality = OPC_QUALITY_GOOD | OPC_LIMIT_HIGH;
    EXPECT_EQ(quality & OPC_QUALITY_MASK, OPC_QUALITY_GOOD);
    EXPECT_EQ(quality & OPC_LIMIT_MASK, OPC_LIMIT_HIGH);
}

TEST(OpcEnumerations, MatchThePublishedValues) {
    EXPECT_EQ(OPC_DS_CACHE, 1);
    EXPECT_EQ(OPC_DS_DEVICE, 2);
    EXPECT_EQ(OPC_BRANCH, 1);
    EXPECT_EQ(OPC_LEAF, 2);
    EXPECT_EQ(OPC_FLAT, 3);
    EXPECT_EQ(OPC_BROWSE_UP, 1);
    EXPECT_EQ(OPC_BROWSE_DOWN, 2);
    EXPECT_EQ(OPC_BROWSE_TO, 3);
    EXPECT_EQ(OPC_NS_HIERARCHIAL, 1);
    EXPECT_EQ(OPC_NS_FLAT, 2);
    EXPECT_EQ(OPC_NOENUM, 0);
    EXPECT_EQ(OPC_ANALOG, 1);
    EXPECT_EQ(OPC_ENUMERATED, 2);
    EXPECT_EQ(OPC_STATUS_RUNNING, 1);
    EXPECT_EQ(OPC_STATUS_FAILED, 2);
    EXPECT_EQ(OPC_STATUS_NOCONFIG, 3);
    EXPECT_EQ(OPC_STATUS_SUSPENDED, 4);
    EXPECT_EQ(OPC_STATUS_TEST, 5);
    EXPECT_EQ(OPC_STATUS_COMM_FAULT, 6);
    EXPECT_EQ(OPC_ENUM_PRIVATE_CONNECTIONS, 1);
    EXPECT_EQ(OPC_ENUM_PUBLIC_CONNECTIONS, 2);
    EXPECT_EQ(OPC_ENUM_ALL_CONNECTIONS, 3);
    EXPECT_EQ(OPC_ENUM_PRIVATE, 4);
    EXPECT_EQ(OPC_ENUM_PUBLIC, 5);
    EXPECT_EQ(OPC_ENUM_ALL, 6);
    // Access rights are independent mask bits.
    EXPECT_EQ(OPC_READABLE, 1);
    EXPECT_EQ(OPC_WRITEABLE, 2);
}

TEST(OpcProperties, IdsMatchThePublishedTable) {
    const int ids[] = {OPC_PROPERTY_DATATYPE,    OPC_PROPERTY_VALUE,         OPC_PROPERTY_QUALITY,
                       OPC_PROPERTY_TIMESTAMP,   OPC_PROPERTY_ACCESS_RIGHTS, OPC_PROPERTY_SCAN_RATE,
                       OPC_PROPERTY_EU_TYPE,     OPC_PROPERTY_EU_INFO,       OPC_PROPERTY_EU_UNITS,
                       OPC_PROPERTY_DESCRIPTION, OPC_PROPERTY_HIGH_EU,       OPC_PROPERTY_LOW_EU,
                       OPC_PROPERTY_HIGH_IR,     OPC_PROPERTY_LOW_IR,        OPC_PROPERTY_CLOSE_LABEL,
                       OPC_PROPERTY_OPEN_LABEL,  OPC_PROPERTY_TIMEZONE};
    const int expected[] = {1, 2, 3, 4, 5, 6, 7, 8, 100, 101, 102, 103, 104, 105, 106, 107, 108};
    ASSERT_EQ(std::size(ids), std::size(expected));
    for (size_t i = 0; i < std::size(ids); ++i) {
        EXPECT_EQ(ids[i], expected[i]) << "entry " << i;
    }
}

std::u16string Text(const OLECHAR* s) {
    return std::u16string(reinterpret_cast<const char16_t*>(s));
}

// Registered by name on both sides of the connection: any difference in spelling means the server
// and the client register different formats and no DA 1.0a data ever arrives.
TEST(OpcStreamFormats, NamesAreExact) {
    EXPECT_EQ(Text(OPCSTMFORMATDATA), u"OPCSTMFORMATDATA");
    EXPECT_EQ(Text(OPCSTMFORMATDATATIME), u"OPCSTMFORMATDATATIME");
    EXPECT_EQ(Text(OPCSTMFORMATWRITECOMPLETE), u"OPCSTMFORMATWRITECOMPLETE");
}

}  // namespace
