// Regional settings, read through the Windows locale calls. The user's (LOCALE_USER_DEFAULT,
// LOCALE_SYSTEM_DEFAULT, 0 and any locale not listed below) are taken from the POSIX locale
// (LC_ALL / LC_NUMERIC / LC_TIME); under the C or POSIX locale: list separator ",", decimal
// point ".", date separator "/", time separator ":", short date "yyyy/MM/dd", long time
// "HH:mm:ss" (Windows picture letters). en-US, en-GB, de-DE, fr-FR, es-ES (0x0C0A and 0x040A),
// their language-only identifiers and LOCALE_INVARIANT answer with their own settings as
// Windows has them.
#pragma once

#include "platform/posix/wintypes.h"

#define LOCALE_SYSTEM_DEFAULT 0x0800
#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_INVARIANT 0x007f
#define LOCALE_NOUSEROVERRIDE 0x80000000
#define LOCALE_RETURN_NUMBER 0x20000000

#define LOCALE_SLIST 0x0000000C
#define LOCALE_IMEASURE 0x0000000D
#define LOCALE_SDECIMAL 0x0000000E
#define LOCALE_STHOUSAND 0x0000000F
#define LOCALE_SGROUPING 0x00000010
#define LOCALE_IDIGITS 0x00000011
#define LOCALE_ILZERO 0x00000012
#define LOCALE_SNATIVEDIGITS 0x00000013
#define LOCALE_SCURRENCY 0x00000014
#define LOCALE_SMONDECIMALSEP 0x00000016
#define LOCALE_SMONTHOUSANDSEP 0x00000017
#define LOCALE_ICURRDIGITS 0x00000019
#define LOCALE_ICURRENCY 0x0000001B
#define LOCALE_INEGCURR 0x0000001C
#define LOCALE_SDATE 0x0000001D
#define LOCALE_STIME 0x0000001E
#define LOCALE_SSHORTDATE 0x0000001F
#define LOCALE_SLONGDATE 0x00000020
#define LOCALE_IDATE 0x00000021
#define LOCALE_ITIME 0x00000023
#define LOCALE_S1159 0x00000028
#define LOCALE_S2359 0x00000029
#define LOCALE_SNEGATIVESIGN 0x00000051
#define LOCALE_STIMEFORMAT 0x00001003
#define LOCALE_SENGLANGUAGE 0x00001001
#define LOCALE_SNAME 0x0000005c

extern "C" {
LCID GetUserDefaultLCID();
LCID GetSystemDefaultLCID();
LCID GetThreadLocale();
// Returns the number of WCHARs written including the terminator, or the size needed when
// cchData is 0; 0 on failure (GetLastError: ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_FLAGS).
int GetLocaleInfoW(LCID Locale, DWORD LCType, LPWSTR lpLCData, int cchData);
}
