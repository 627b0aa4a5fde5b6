// OPC Data Access 1.0a and 2.0 custom interface: types, constants, structures and interfaces.
//
// The binary layout is what matters here: every interface is an abstract struct deriving from
// IUnknown whose pure virtual methods are declared in vtable order (no virtual destructor, which
// would add slots, and no overloads, whose slot order compilers do not agree on), and every
// structure keeps the Windows field order and natural alignment, checked below for 32-bit and
// 64-bit builds. The names are the usual OPC names, so code reads the same on every system.
#pragma once

#include "opc/include/opcdef.h"

struct IEnumString;

typedef DWORD OPCHANDLE;

// ---- Enumerations (4 bytes in memory, as C enums are on Windows) -------------------------------

typedef enum tagOPCDATASOURCE { OPC_DS_CACHE = 1, OPC_DS_DEVICE = 2 } OPCDATASOURCE;

typedef enum tagOPCBROWSETYPE { OPC_BRANCH = 1, OPC_LEAF = 2, OPC_FLAT = 3 } OPCBROWSETYPE;

// "HIERARCHIAL" is how every server and header spells it.
typedef enum tagOPCNAMESPACETYPE { OPC_NS_HIERARCHIAL = 1, OPC_NS_FLAT = 2 } OPCNAMESPACETYPE;

// OPC_BROWSE_TO exists from 2.0 on; 1.0a servers reject it.
typedef enum tagOPCBROWSEDIRECTION {
    OPC_BROWSE_UP = 1,
    OPC_BROWSE_DOWN = 2,
    OPC_BROWSE_TO = 3
} OPCBROWSEDIRECTION;

typedef enum tagOPCEUTYPE { OPC_NOENUM = 0, OPC_ANALOG = 1, OPC_ENUMERATED = 2 } OPCEUTYPE;

// OPC_STATUS_COMM_FAULT comes from 3.0 servers; a 2.0 client still has to accept it. The type is
// fixed so that any 32-bit state a server reports is a value of it, named or not.
typedef enum tagOPCSERVERSTATE : int {
    OPC_STATUS_RUNNING = 1,
    OPC_STATUS_FAILED = 2,
    OPC_STATUS_NOCONFIG = 3,
    OPC_STATUS_SUSPENDED = 4,
    OPC_STATUS_TEST = 5,
    OPC_STATUS_COMM_FAULT = 6
} OPCSERVERSTATE;

typedef enum tagOPCENUMSCOPE {
    OPC_ENUM_PRIVATE_CONNECTIONS = 1,
    OPC_ENUM_PUBLIC_CONNECTIONS = 2,
    OPC_ENUM_ALL_CONNECTIONS = 3,
    OPC_ENUM_PRIVATE = 4,
    OPC_ENUM_PUBLIC = 5,
    OPC_ENUM_ALL = 6
} OPCENUMSCOPE;

static_assert(sizeof(OPCDATASOURCE) == 4 && sizeof(OPCBROWSETYPE) == 4 && sizeof(OPCNAMESPACETYPE) == 4 &&
              sizeof(OPCBROWSEDIRECTION) == 4 && sizeof(OPCEUTYPE) == 4 && sizeof(OPCSERVERSTATE) == 4 &&
              sizeof(OPCENUMSCOPE) == 4);

// ---- Access rights (a DWORD bit mask, not an enumeration) --------------------------------------

#define OPC_READABLE 0x1
#define OPC_WRITEABLE 0x2

// ---- Quality word ------------------------------------------------------------------------------
// Low byte: bits 7-6 quality, bits 5-2 substatus, bits 1-0 limit; the high byte is the vendor's.
// Substatus values include their quality bits, so compare them with (wQuality & OPC_STATUS_MASK).

#define OPC_QUALITY_MASK 0xC0
#define OPC_STATUS_MASK 0xFC
#define OPC_LIMIT_MASK 0x03

#define OPC_QUALITY_BAD 0x00
#define OPC_QUALITY_UNCERTAIN 0x40
#define OPC_QUALITY_GOOD 0xC0

#define OPC_QUALITY_CONFIG_ERROR 0x04
#define OPC_QUALITY_NOT_CONNECTED 0x08
#define OPC_QUALITY_DEVICE_FAILURE 0x0C
#define OPC_QUALITY_SENSOR_FAILURE 0x10
#define OPC_QUALITY_LAST_KNOWN 0x14
#define OPC_QUALITY_COMM_FAILURE 0x18
#define OPC_QUALITY_OUT_OF_SERVICE 0x1C
#define OPC_QUALITY_WAITING_FOR_INITIAL_DATA 0x20  // sent by 3.0 servers

#define OPC_QUALITY_LAST_USABLE 0x44
#define OPC_QUALITY_SENSOR_CAL 0x50
#define OPC_QUALITY_EGU_EXCEEDED 0x54
#define OPC_QUALITY_SUB_NORMAL 0x58

#define OPC_QUALITY_LOCAL_OVERRIDE 0xD8

#define OPC_LIMIT_OK 0x00
#define OPC_LIMIT_LOW 0x01
#define OPC_LIMIT_HIGH 0x02
#define OPC_LIMIT_CONST 0x03

// ---- Server categories -------------------------------------------------------------------------
// A server lists these under "Implemented Categories"; the server list asks for them. Servers
// registered only through the old "<ProgID>\OPC" key are found under the 1.0 category alone.

NV_OPC_GUID(CATID_OPCDAServer10, 0x63D5F430, 0xCFE4, 0x11D1, 0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB);
NV_OPC_GUID(CATID_OPCDAServer20, 0x63D5F432, 0xCFE4, 0x11D1, 0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB);
NV_OPC_GUID(CATID_OPCDAServer30, 0xCC603642, 0x66D7, 0x48F1, 0xB6, 0x9A, 0xB6, 0x25, 0xE7, 0x36, 0x52, 0xD7);
NV_OPC_GUID(CATID_XMLDAServer10, 0x3098EDA4, 0xA006, 0x48B2, 0xA2, 0x7F, 0x24, 0x74, 0x53, 0x95, 0x94, 0x08);

// Registered as the category's description (value "409" under Component Categories\{CATID}).
#define OPC_CATEGORY_DESCRIPTION_DA10 OLESTR("OPC Data Access Servers Version 1.0")
#define OPC_CATEGORY_DESCRIPTION_DA20 OLESTR("OPC Data Access Servers Version 2.0")
#define OPC_CATEGORY_DESCRIPTION_DA30 OLESTR("OPC Data Access Servers Version 3.0")
#define OPC_CATEGORY_DESCRIPTION_XMLDA10 OLESTR("OPC XML Data Access Servers Version 1.0")

// ---- 1.0a data streams (IDataObject / IAdviseSink) ---------------------------------------------
// Clipboard format names to register; the numeric format differs per machine and session.
#define OPCSTMFORMATDATA OLESTR("OPCSTMFORMATDATA")          // OPCITEMHEADER2 items, no time stamps
#define OPCSTMFORMATDATATIME OLESTR("OPCSTMFORMATDATATIME")  // OPCITEMHEADER1 items, with time stamps
#define OPCSTMFORMATWRITECOMPLETE OLESTR("OPCSTMFORMATWRITECOMPLETE")  // OPCITEMHEADERWRITE items

// A data stream is one OPCGROUPHEADER, dwItemCount item headers, then one value record per item.
// dwValueOffset counts from the start of the OPCGROUPHEADER. Value records embed a raw VARIANT (and
// for arrays a SAFEARRAY descriptor) whose size is the writer's, 16 or 24 bytes; records are packed
// back to back, so a VARIANT in the stream may be unaligned and must be copied out before use.
// Servers disagree on two points: what hrStatus holds (always S_OK, S_FALSE for any non-good
// quality, or the first error), so it is informational only and item qualities decide; and how a
// BSTR array record is laid out (with or without the table of string pointers before the strings).
typedef struct tagOPCGROUPHEADER {
    DWORD dwSize;
    DWORD dwItemCount;
    OPCHANDLE hClientGroup;
    DWORD dwTransactionID;
    HRESULT hrStatus;
} OPCGROUPHEADER;

typedef struct tagOPCITEMHEADER1 {
    OPCHANDLE hClient;
    DWORD dwValueOffset;
    WORD wQuality;
    WORD wReserved;
    FILETIME ftTimeStampItem;
} OPCITEMHEADER1;

typedef struct tagOPCITEMHEADER2 {
    OPCHANDLE hClient;
    DWORD dwValueOffset;
    WORD wQuality;
    WORD wReserved;
} OPCITEMHEADER2;

// Unlike OPCGROUPHEADER, the write-complete header has no dwSize: it starts with dwItemCount.
typedef struct tagOPCGROUPHEADERWRITE {
    DWORD dwItemCount;
    OPCHANDLE hClientGroup;
    DWORD dwTransactionID;
    HRESULT hrStatus;
} OPCGROUPHEADERWRITE;

typedef struct tagOPCITEMHEADERWRITE {
    OPCHANDLE hClient;
    HRESULT dwError;
} OPCITEMHEADERWRITE;

// ---- Structures exchanged through the interfaces -----------------------------------------------
// Strings, blobs and arrays returned in these belong to the caller, in task memory.

typedef struct tagOPCITEMSTATE {
    OPCHANDLE hClient;
    FILETIME ftTimeStamp;
    WORD wQuality;
    WORD wReserved;
    VARIANT vDataValue;
} OPCITEMSTATE;

typedef struct tagOPCSERVERSTATUS {
    FILETIME ftStartTime;
    FILETIME ftCurrentTime;
    FILETIME ftLastUpdateTime;
    OPCSERVERSTATE dwServerState;
    DWORD dwGroupCount;
    DWORD dwBandWidth;
    WORD wMajorVersion;
    WORD wMinorVersion;
    WORD wBuildNumber;
    WORD wReserved;
    LPWSTR szVendorInfo;
} OPCSERVERSTATUS;

// vtRequestedDataType VT_EMPTY asks for the item's canonical type.
typedef struct tagOPCITEMDEF {
    LPWSTR szAccessPath;
    LPWSTR szItemID;
    BOOL bActive;
    OPCHANDLE hClient;
    DWORD dwBlobSize;
    BYTE* pBlob;
    VARTYPE vtRequestedDataType;
    WORD wReserved;
} OPCITEMDEF;

typedef struct tagOPCITEMRESULT {
    OPCHANDLE hServer;
    VARTYPE vtCanonicalDataType;
    WORD wReserved;
    DWORD dwAccessRights;
    DWORD dwBlobSize;
    BYTE* pBlob;
} OPCITEMRESULT;

typedef struct tagOPCITEMATTRIBUTES {
    LPWSTR szAccessPath;
    LPWSTR szItemID;
    BOOL bActive;
    OPCHANDLE hClient;
    OPCHANDLE hServer;
    DWORD dwAccessRights;
    DWORD dwBlobSize;
    BYTE* pBlob;
    VARTYPE vtRequestedDataType;
    VARTYPE vtCanonicalDataType;
    OPCEUTYPE dwEUType;
    VARIANT vEUInfo;
} OPCITEMATTRIBUTES;

// ---- Layout checks -----------------------------------------------------------------------------
// Natural alignment throughout. Some .NET declarations pack these structures to 4 bytes, which
// differs on 64-bit (OPCSERVERSTATUS would be 52 bytes); servers built from the C headers use the
// natural layout, so that is the one kept here.

NV_OPC_CHECK_SIZE(OPCGROUPHEADER, 20, 20);
NV_OPC_CHECK_OFFSET(OPCGROUPHEADER, dwItemCount, 4, 4);
NV_OPC_CHECK_OFFSET(OPCGROUPHEADER, hClientGroup, 8, 8);
NV_OPC_CHECK_OFFSET(OPCGROUPHEADER, dwTransactionID, 12, 12);
NV_OPC_CHECK_OFFSET(OPCGROUPHEADER, hrStatus, 16, 16);

NV_OPC_CHECK_SIZE(OPCITEMHEADER1, 20, 20);
NV_OPC_CHECK_OFFSET(OPCITEMHEADER1, dwValueOffset, 4, 4);
NV_OPC_CHECK_OFFSET(OPCITEMHEADER1, wQuality, 8, 8);
NV_OPC_CHECK_OFFSET(OPCITEMHEADER1, wReserved, 10, 10);
NV_OPC_CHECK_OFFSET(OPCITEMHEADER1, ftTimeStampItem, 12, 12);

NV_OPC_CHECK_SIZE(OPCITEMHEADER2, 12, 12);
NV_OPC_CHECK_OFFSET(OPCITEMHEADER2, dwValueOffset, 4, 4);
NV_OPC_CHECK_OFFSET(OPCITEMHEADER2, wQuality, 8, 8);
NV_OPC_CHECK_OFFSET(OPCITEMHEADER2, wReserved, 10, 10);

NV_OPC_CHECK_SIZE(OPCGROUPHEADERWRITE, 16, 16);
NV_OPC_CHECK_OFFSET(OPCGROUPHEADERWRITE, dwItemCount, 0, 0);
NV_OPC_CHECK_OFFSET(OPCGROUPHEADERWRITE, hClientGroup, 4, 4);
NV_OPC_CHECK_OFFSET(OPCGROUPHEADERWRITE, dwTransactionID, 8, 8);
NV_OPC_CHECK_OFFSET(OPCGROUPHEADERWRITE, hrStatus, 12, 12);

NV_OPC_CHECK_SIZE(OPCITEMHEADERWRITE, 8, 8);
NV_OPC_CHECK_OFFSET(OPCITEMHEADERWRITE, dwError, 4, 4);

NV_OPC_CHECK_SIZE(OPCITEMSTATE, 32, 40);
NV_OPC_CHECK_OFFSET(OPCITEMSTATE, ftTimeStamp, 4, 4);
NV_OPC_CHECK_OFFSET(OPCITEMSTATE, wQuality, 12, 12);
NV_OPC_CHECK_OFFSET(OPCITEMSTATE, wReserved, 14, 14);
NV_OPC_CHECK_OFFSET(OPCITEMSTATE, vDataValue, 16, 16);

NV_OPC_CHECK_SIZE(OPCSERVERSTATUS, 48, 56);
NV_OPC_CHECK_OFFSET(OPCSERVERSTATUS, ftCurrentTime, 8, 8);
NV_OPC_CHECK_OFFSET(OPCSERVERSTATUS, ftLastUpdateTime, 16, 16);
NV_OPC_CHECK_OFFSET(OPCSERVERSTATUS, dwServerState, 24, 24);
NV_OPC_CHECK_OFFSET(OPCSERVERSTATUS, dwGroupCount, 28, 28);
NV_OPC_CHECK_OFFSET(OPCSERVERSTATUS, dwBandWidth, 32, 32);
NV_OPC_CHECK_OFFSET(OPCSERVERSTATUS, wMajorVersion, 36, 36);
NV_OPC_CHECK_OFFSET(OPCSERVERSTATUS, wMinorVersion, 38, 38);
NV_OPC_CHECK_OFFSET(OPCSERVERSTATUS, wBuildNumber, 40, 40);
NV_OPC_CHECK_OFFSET(OPCSERVERSTATUS, wReserved, 42, 42);
NV_OPC_CHECK_OFFSET(OPCSERVERSTATUS, szVendorInfo, 44, 48);

NV_OPC_CHECK_SIZE(OPCITEMDEF, 28, 48);
NV_OPC_CHECK_OFFSET(OPCITEMDEF, szItemID, 4, 8);
NV_OPC_CHECK_OFFSET(OPCITEMDEF, bActive, 8, 16);
NV_OPC_CHECK_OFFSET(OPCITEMDEF, hClient, 12, 20);
NV_OPC_CHECK_OFFSET(OPCITEMDEF, dwBlobSize, 16, 24);
NV_OPC_CHECK_OFFSET(OPCITEMDEF, pBlob, 20, 32);
NV_OPC_CHECK_OFFSET(OPCITEMDEF, vtRequestedDataType, 24, 40);
NV_OPC_CHECK_OFFSET(OPCITEMDEF, wReserved, 26, 42);

NV_OPC_CHECK_SIZE(OPCITEMRESULT, 20, 24);
NV_OPC_CHECK_OFFSET(OPCITEMRESULT, vtCanonicalDataType, 4, 4);
NV_OPC_CHECK_OFFSET(OPCITEMRESULT, wReserved, 6, 6);
NV_OPC_CHECK_OFFSET(OPCITEMRESULT, dwAccessRights, 8, 8);
NV_OPC_CHECK_OFFSET(OPCITEMRESULT, dwBlobSize, 12, 12);
NV_OPC_CHECK_OFFSET(OPCITEMRESULT, pBlob, 16, 16);

NV_OPC_CHECK_SIZE(OPCITEMATTRIBUTES, 56, 80);
NV_OPC_CHECK_OFFSET(OPCITEMATTRIBUTES, szItemID, 4, 8);
NV_OPC_CHECK_OFFSET(OPCITEMATTRIBUTES, bActive, 8, 16);
NV_OPC_CHECK_OFFSET(OPCITEMATTRIBUTES, hClient, 12, 20);
NV_OPC_CHECK_OFFSET(OPCITEMATTRIBUTES, hServer, 16, 24);
NV_OPC_CHECK_OFFSET(OPCITEMATTRIBUTES, dwAccessRights, 20, 28);
NV_OPC_CHECK_OFFSET(OPCITEMATTRIBUTES, dwBlobSize, 24, 32);
NV_OPC_CHECK_OFFSET(OPCITEMATTRIBUTES, pBlob, 28, 40);
NV_OPC_CHECK_OFFSET(OPCITEMATTRIBUTES, vtRequestedDataType, 32, 48);
NV_OPC_CHECK_OFFSET(OPCITEMATTRIBUTES, vtCanonicalDataType, 34, 50);
NV_OPC_CHECK_OFFSET(OPCITEMATTRIBUTES, dwEUType, 36, 52);
NV_OPC_CHECK_OFFSET(OPCITEMATTRIBUTES, vEUInfo, 40, 56);

// ---- Interfaces --------------------------------------------------------------------------------
// Memory rules that hold for every method below: out arrays and strings are allocated by the
// callee in task memory and freed by the caller (VARIANTs inside with VariantClear first); in
// arrays stay the caller's; callback arguments stay the server's and must be copied if kept.

NV_OPC_INTERFACE(IOPCServer, 0x39C13A4D, 0x011E, 0x11D0, 0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3);
NV_OPC_INTERFACE(IOPCServerPublicGroups, 0x39C13A4E, 0x011E, 0x11D0, 0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD,
                 0xB3);
NV_OPC_INTERFACE(IOPCBrowseServerAddressSpace, 0x39C13A4F, 0x011E, 0x11D0, 0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8,
                 0xAD, 0xB3);
NV_OPC_INTERFACE(IOPCGroupStateMgt, 0x39C13A50, 0x011E, 0x11D0, 0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD,
                 0xB3);
NV_OPC_INTERFACE(IOPCPublicGroupStateMgt, 0x39C13A51, 0x011E, 0x11D0, 0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8,
                 0xAD, 0xB3);
NV_OPC_INTERFACE(IOPCSyncIO, 0x39C13A52, 0x011E, 0x11D0, 0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3);
NV_OPC_INTERFACE(IOPCAsyncIO, 0x39C13A53, 0x011E, 0x11D0, 0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3);
NV_OPC_INTERFACE(IOPCItemMgt, 0x39C13A54, 0x011E, 0x11D0, 0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3);
NV_OPC_INTERFACE(IEnumOPCItemAttributes, 0x39C13A55, 0x011E, 0x11D0, 0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD,
                 0xB3);
NV_OPC_INTERFACE(IOPCDataCallback, 0x39C13A70, 0x011E, 0x11D0, 0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD,
                 0xB3);
NV_OPC_INTERFACE(IOPCAsyncIO2, 0x39C13A71, 0x011E, 0x11D0, 0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3);
NV_OPC_INTERFACE(IOPCItemProperties, 0x39C13A72, 0x011E, 0x11D0, 0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD,
                 0xB3);

// On the server object. A NULL pTimeBias or pPercentDeadband in AddGroup asks for the server's
// default; ppUnk comes back AddRef'ed as the interface named by riid.
struct IOPCServer : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                                               OPCHANDLE hClientGroup, LONG* pTimeBias,
                                               FLOAT* pPercentDeadband, DWORD dwLCID,
                                               OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                                               REFIID riid, LPUNKNOWN* ppUnk) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) = 0;
    // The status record and its szVendorInfo are both the caller's to free.
    virtual HRESULT STDMETHODCALLTYPE GetStatus(OPCSERVERSTATUS** ppServerStatus) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) = 0;
    // riid is IID_IEnumString for group names or IID_IEnumUnknown for the group objects.
    virtual HRESULT STDMETHODCALLTYPE CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid,
                                                            LPUNKNOWN* ppUnk) = 0;
};

struct IOPCServerPublicGroups : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetPublicGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemovePublicGroup(OPCHANDLE hServerGroup, BOOL bForce) = 0;
};

// szString of ChangeBrowsePosition is a branch name for OPC_BROWSE_DOWN, ignored for OPC_BROWSE_UP
// and a fully qualified item ID for OPC_BROWSE_TO.
struct IOPCBrowseServerAddressSpace : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) = 0;
    virtual HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection,
                                                           LPCWSTR szString) = 0;
    virtual HRESULT STDMETHODCALLTYPE BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType,
                                                       LPCWSTR szFilterCriteria, VARTYPE vtDataTypeFilter,
                                                       DWORD dwAccessRightsFilter,
                                                       IEnumString** ppIEnumString) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) = 0;
    virtual HRESULT STDMETHODCALLTYPE BrowseAccessPaths(LPCWSTR szItemID, IEnumString** ppIEnumString) = 0;
};

// On the group object. SetState takes NULL for every value to leave unchanged; its only output is
// the revised update rate, in second position.
struct IOPCGroupStateMgt : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName,
                                               LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                                               OPCHANDLE* phClientGroup, OPCHANDLE* phServerGroup) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate,
                                               BOOL* pActive, LONG* pTimeBias, FLOAT* pPercentDeadband,
                                               DWORD* pLCID, OPCHANDLE* phClientGroup) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetName(LPCWSTR szName) = 0;
    virtual HRESULT STDMETHODCALLTYPE CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) = 0;
};

struct IOPCPublicGroupStateMgt : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetState(BOOL* pPublic) = 0;
    virtual HRESULT STDMETHODCALLTYPE MoveToPublic() = 0;
};

struct IOPCSyncIO : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                                           OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                            HRESULT** ppErrors) = 0;
};

// The 1.0a asynchronous interface: dwConnection is the number IDataObject::DAdvise returned on the
// same group, and results arrive as streams carrying the returned transaction ID.
struct IOPCAsyncIO : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount,
                                           OPCHANDLE* phServer, DWORD* pTransactionID,
                                           HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer,
                                            VARIANT* pItemValues, DWORD* pTransactionID,
                                            HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE Refresh(DWORD dwConnection, OPCDATASOURCE dwSource,
                                              DWORD* pTransactionID) = 0;
    virtual HRESULT STDMETHODCALLTYPE Cancel(DWORD dwTransactionID) = 0;
};

struct IOPCItemMgt : public IUnknown {
    // Every non-NULL pBlob in the returned results is task memory as well.
    virtual HRESULT STDMETHODCALLTYPE AddItems(DWORD dwCount, OPCITEMDEF* pItemArray,
                                               OPCITEMRESULT** ppAddResults, HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                                    OPCITEMRESULT** ppValidationResults,
                                                    HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                                     HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetClientHandles(DWORD dwCount, OPCHANDLE* phServer,
                                                       OPCHANDLE* phClient, HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDatatypes(DWORD dwCount, OPCHANDLE* phServer,
                                                   VARTYPE* pRequestedDatatypes, HRESULT** ppErrors) = 0;
    // riid is IID_IEnumOPCItemAttributes.
    virtual HRESULT STDMETHODCALLTYPE CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) = 0;
};

// Unlike the standard enumerators, Next allocates the returned array itself.
struct IEnumOPCItemAttributes : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray,
                                           ULONG* pceltFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) = 0;
};

// Implemented by the client and advised on the group's connection point. dwTransid is 0 for a
// subscription update and the client's ID for a refresh; hGroup is the group's client handle;
// dwCount may be 0 (keep-alive).
struct IOPCDataCallback : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                                   HRESULT hrMastererror, DWORD dwCount,
                                                   OPCHANDLE* phClientItems, VARIANT* pvValues,
                                                   WORD* pwQualities, FILETIME* pftTimeStamps,
                                                   HRESULT* pErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup,
                                                     HRESULT hrMasterquality, HRESULT hrMastererror,
                                                     DWORD dwCount, OPCHANDLE* phClientItems,
                                                     VARIANT* pvValues, WORD* pwQualities,
                                                     FILETIME* pftTimeStamps, HRESULT* pErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr,
                                                      DWORD dwCount, OPCHANDLE* pClienthandles,
                                                      HRESULT* pErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) = 0;
};

// The 2.0 asynchronous interface. Refresh2 and Cancel2 carry a suffix so that one class can
// implement this and IOPCAsyncIO side by side.
struct IOPCAsyncIO2 : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID,
                                           DWORD* pdwCancelID, HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                            DWORD dwTransactionID, DWORD* pdwCancelID,
                                            HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID,
                                               DWORD* pdwCancelID) = 0;
    virtual HRESULT STDMETHODCALLTYPE Cancel2(DWORD dwCancelID) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetEnable(BOOL bEnable) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetEnable(BOOL* pbEnable) = 0;
};

// On the server object. The data types come back as 16-bit VARTYPEs (some .NET declarations
// marshal them as 32-bit integers; the C layout is what servers send).
struct IOPCItemProperties : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount,
                                                               DWORD** ppPropertyIDs, LPWSTR** ppDescriptions,
                                                               VARTYPE** ppvtDataTypes) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                                        VARIANT** ppvData, HRESULT** ppErrors) = 0;
    virtual HRESULT STDMETHODCALLTYPE LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                                    LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) = 0;
};
