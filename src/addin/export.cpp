// The product library's one export: the add-in object the host drives
// through its interface table. Constructed when the library loads, in
// every process.
#include "addin/export.h"
#include "addin/kestrel.h"

extern "C" {
KESTREL_EXPORT Kestrel AAPI_Addin;
}
