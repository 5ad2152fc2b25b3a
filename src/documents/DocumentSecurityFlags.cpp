#include "documents/DocumentSecurityFlags.h"

bool g_bRemoveEncryptionRequested = false;
