// A loadable module that is not a COM server: it exports no DllGetClassObject. Registered as a
// class's in-process server, it shows how object creation fails on a module without the entry
// point. (On Linux the platform library itself plays this part.)
#include "platform/win32.h"

extern "C" DECLSPEC_EXPORT int NvNoEntryModuleMarker() {
    return 1;
}
