// Placeholder until the registry store lands: no registry node can be made yet.
#include "pda/KestRegistry.h"

KestRegistry* KestRegistry::CreateInstance(KestBaseType) { return nullptr; }
