#pragma once
// Requests of the document operations to the document providers, set and consumed on the
// application's user-interface thread.

// Set before Office's encrypt command runs to remove a document's encryption; the encryption
// provider's next NewSession or ShowSettings consumes it.
extern bool g_bRemoveEncryptionRequested;
