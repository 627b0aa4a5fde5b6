// Every OPC declaration the client and the simulation servers use.
#pragma once

#include "opc/include/opccomn.h"
#include "opc/include/opcda.h"
#include "opc/include/opcenum.h"
#include "opc/include/opcerror.h"
#include "opc/include/opcprops.h"
