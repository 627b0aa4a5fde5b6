// Every OPC identifier against its registry text form, and __uuidof of every interface against its
// IID. A single wrong byte here makes QueryInterface fail against every real server.
#include "opc/include/opccomn.h"
#include "opc/include/opcda.h"
#include "opc/include/opcenum.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// Registry text form, formatted independently of anything under test: the first three groups are
// the integers, the last two the Data4 bytes in order.
std::string GuidText(const GUID& g) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), static_cast<unsigned>(g.Data2),
                  static_cast<unsigned>(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

struct Identifier {
    const char* name;
    const GUID& value;
    const char* text;
};

TEST(OpcIdentifiers, MatchTheirRegistryText) {
    const Identifier table[] = {
        {"IID_IOPCServer", IID_IOPCServer, "{39C13A4D-011E-11D0-9675-0020AFD8ADB3}"},
        {"IID_IOPCServerPublicGroups", IID_IOPCServerPublicGroups, "{39C13A4E-011E-11D0-9675-0020AFD8ADB3}"},
        {"IID_IOPCBrowseServerAddressSpace", IID_IOPCBrowseServerAddressSpace,
         "{39C13A4F-011E-11D0-9675-0020AFD8ADB3}"},
        {"IID_IOPCGroupStateMgt", IID_IOPCGroupStateMgt, "{39C13A50-011E-11D0-9675-0020AFD8ADB3}"},
        {"IID_IOPCPublicGroupStateMgt", IID_IOPCPublicGroupStateMgt,
         "{39C13A51-011E-11D0-9675-0020AFD8ADB3}"},
        {"IID_IOPCSyncIO", IID_IOPCSyncIO, "{39C13A52-011E-11D0-9675-0020AFD8ADB3}"},
        {"IID_IOPCAsyncIO", IID_IOPCAsyncIO, "{39C13A53-011E-11D0-9675-0020AFD8ADB3}"},
        {"IID_IOPCItemMgt", IID_IOPCItemMgt, "{39C13A54-011E-11D0-9675-0020AFD8ADB3}"},
        {"IID_IEnumOPCItemAttributes", IID_IEnumOPCItemAttributes, "{39C13A55-011E-11D0-9675-0020AFD8ADB3}"},
        {"IID_IOPCDataCallback", IID_IOPCDataCallback, "{39C13A70-011E-11D0-9675-0020AFD8ADB3}"},
        {"IID_IOPCAsyncIO2", IID_IOPCAsyncIO2, "{39C13A71-011E-11D0-9675-0020AFD8ADB3}"},
        {"IID_IOPCItemProperties", IID_IOPCItemProperties, "{39C13A72-011E-11D0-9675-0020AFD8ADB3}"},
        {"IID_IOPCCommon", IID_IOPCCommon, "{F31DFDE2-07B6-11D2-B2D8-0060083BA1FB}"},
        {"IID_IOPCShutdown", IID_IOPCShutdown, "{F31DFDE1-07B6-11D2-B2D8-0060083BA1FB}"},
        {"IID_IOPCServerList", IID_IOPCServerList, "{13486D50-4821-11D2-A494-3CB306C10000}"},
        {"IID_IOPCServerList2", IID_IOPCServerList2, "{9DD0B56C-AD9E-43EE-8305-487F3188BF7A}"},
        {"IID_IOPCEnumGUID", IID_IOPCEnumGUID, "{55C382C8-21C7-4E88-96C1-BECFB1E3F483}"},
        {"CLSID_OPCServerList", CLSID_OPCServerList, "{13486D51-4821-11D2-A494-3CB306C10000}"},
        {"CATID_OPCDAServer10", CATID_OPCDAServer10, "{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}"},
        {"CATID_OPCDAServer20", CATID_OPCDAServer20, "{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}"},
        {"CATID_OPCDAServer30", CATID_OPCDAServer30, "{CC603642-66D7-48F1-B69A-B625E73652D7}"},
        {"CATID_XMLDAServer10", CATID_XMLDAServer10, "{3098EDA4-A006-48B2-A27F-247453959408}"},
    };
    for (const auto& id : table) {
        EXPECT_EQ(GuidText(id.value), id.text) << id.name;
    }
}

// The formatter itself must put Data4 bytes in order and pad every group; otherwise the table
// above could pass with a formatter and a header that are wrong the same way.
TEST(OpcIdentifiers, FormatterPadsAndOrdersBytes) {
    const GUID g = {0x0000000A, 0x000B, 0x000C, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}};
    EXPECT_EQ(GuidText(g), "{0000000A-000B-000C-0102-030405060708}");
}

template <typename Interface>
void ExpectUuid(const GUID& iid, const char* name) {
    EXPECT_TRUE(IsEqualGUID(__uuidof(Interface), iid)) << name << ": " << GuidText(__uuidof(Interface));
}

TEST(OpcIdentifiers, UuidofYieldsTheInterfaceId) {
    ExpectUuid<IOPCServer>(IID_IOPCServer, "IOPCServer");
    ExpectUuid<IOPCServerPublicGroups>(IID_IOPCServerPublicGroups, "IOPCServerPublicGroups");
    ExpectUuid<IOPCBrowseServerAddressSpace>(IID_IOPCBrowseServerAddressSpace,
                                             "IOPCBrowseServerAddressSpace");
    ExpectUuid<IOPCGroupStateMgt>(IID_IOPCGroupStateMgt, "IOPCGroupStateMgt");
    ExpectUuid<IOPCPublicGroupStateMgt>(IID_IOPCPublicGroupStateMgt, "IOPCPublicGroupStateMgt");
    ExpectUuid<IOPCSyncIO>(IID_IOPCSyncIO, "IOPCSyncIO");
    ExpectUuid<IOPCAsyncIO>(IID_IOPCAsyncIO, "IOPCAsyncIO");
    ExpectUuid<IOPCItemMgt>(IID_IOPCItemMgt, "IOPCItemMgt");
    ExpectUuid<IEnumOPCItemAttributes>(IID_IEnumOPCItemAttributes, "IEnumOPCItemAttributes");
    ExpectUuid<IOPCDataCallback>(IID_IOPCDataCallback, "IOPCDataCallback");
    ExpectUuid<IOPCAsyncIO2>(IID_IOPCAsyncIO2, "IOPCAsyncIO2");
    ExpectUuid<IOPCItemProperties>(IID_IOPCItemProperties, "IOPCItemProperties");
    ExpectUuid<IOPCCommon>(IID_IOPCCommon, "IOPCCommon");
    ExpectUuid<IOPCShutdown>(IID_IOPCShutdown, "IOPCShutdown");
    ExpectUuid<IOPCServerList>(IID_IOPCServerList, "IOPCServerList");
    ExpectUuid<IOPCServerList2>(IID_IOPCServerList2, "IOPCServerList2");
    ExpectUuid<IOPCEnumGUID>(IID_IOPCEnumGUID, "IOPCEnumGUID");
    // Templates that query by pointer type must land on the same IID.
    ExpectUuid<IOPCServer*>(IID_IOPCServer, "IOPCServer*");
}

}  // namespace
