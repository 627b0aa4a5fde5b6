// Item property IDs of IOPCItemProperties and the descriptions servers commonly give them.
// Servers word some descriptions differently ("Item Canonical DataType", "Timezone"), so code that
// recognises a property must go by its ID; the descriptions here are what our own servers report.
#pragma once

#include "platform/win32.h"

// Properties every item has.
#define OPC_PROPERTY_DATATYPE 1  // VT_I2, the item's canonical VARTYPE
#define OPC_PROPERTY_VALUE 2
#define OPC_PROPERTY_QUALITY 3        // VT_I2
#define OPC_PROPERTY_TIMESTAMP 4      // VT_DATE
#define OPC_PROPERTY_ACCESS_RIGHTS 5  // VT_I4, OPC_READABLE | OPC_WRITEABLE
#define OPC_PROPERTY_SCAN_RATE 6      // VT_R4, milliseconds
#define OPC_PROPERTY_EU_TYPE 7        // VT_I4, an OPCEUTYPE
#define OPC_PROPERTY_EU_INFO 8  // VT_ARRAY | VT_R8 (analog range) or VT_ARRAY | VT_BSTR (enumerated texts)

// Recommended properties.
#define OPC_PROPERTY_EU_UNITS 100     // VT_BSTR
#define OPC_PROPERTY_DESCRIPTION 101  // VT_BSTR
#define OPC_PROPERTY_HIGH_EU 102      // VT_R8
#define OPC_PROPERTY_LOW_EU 103       // VT_R8
#define OPC_PROPERTY_HIGH_IR 104      // VT_R8
#define OPC_PROPERTY_LOW_IR 105       // VT_R8
#define OPC_PROPERTY_CLOSE_LABEL 106  // VT_BSTR
#define OPC_PROPERTY_OPEN_LABEL 107   // VT_BSTR
#define OPC_PROPERTY_TIMEZONE 108     // VT_I4, minutes

#define OPC_PROPERTY_DESC_DATATYPE OLESTR("Item Canonical Data Type")
#define OPC_PROPERTY_DESC_VALUE OLESTR("Item Value")
#define OPC_PROPERTY_DESC_QUALITY OLESTR("Item Quality")
#define OPC_PROPERTY_DESC_TIMESTAMP OLESTR("Item Timestamp")
#define OPC_PROPERTY_DESC_ACCESS_RIGHTS OLESTR("Item Access Rights")
#define OPC_PROPERTY_DESC_SCAN_RATE OLESTR("Server Scan Rate")
#define OPC_PROPERTY_DESC_EU_TYPE OLESTR("Item EU Type")
#define OPC_PROPERTY_DESC_EU_INFO OLESTR("Item EU Info")
#define OPC_PROPERTY_DESC_EU_UNITS OLESTR("EU Units")
#define OPC_PROPERTY_DESC_DESCRIPTION OLESTR("Item Description")
#define OPC_PROPERTY_DESC_HIGH_EU OLESTR("High EU")
#define OPC_PROPERTY_DESC_LOW_EU OLESTR("Low EU")
#define OPC_PROPERTY_DESC_HIGH_IR OLESTR("High Instrument Range")
#define OPC_PROPERTY_DESC_LOW_IR OLESTR("Low Instrument Range")
#define OPC_PROPERTY_DESC_CLOSE_LABEL OLESTR("Contact Close Label")
#define OPC_PROPERTY_DESC_OPEN_LABEL OLESTR("Contact Open Label")
#define OPC_PROPERTY_DESC_TIMEZONE OLESTR("Item Timezone")
