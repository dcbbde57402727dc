#include "addin/kestrel.h"

#include "common/names.h"

Kestrel::Kestrel() : LocalAddin(KESTREL_NAME_TAG) {}
