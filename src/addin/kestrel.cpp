#include "addin/kestrel.h"

Kestrel::Kestrel() : LocalAddin("KS") {}
