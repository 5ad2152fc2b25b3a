#pragma once
// The MAPI helper exports, bound at run time: Wine exports some only under decorated
// names or by ordinal, and a machine without MAPI must still load the module.
#include <windows.h>
#include <mapix.h>

namespace MapiApi {

HRESULT HrSetOneProp(IMAPIProp* pProp, SPropValue* pValue);
void FreeBuffer(void* pv);
void FreeRows(SRowSet* pRows);
// The value of a tag in a table row, or null.
const SPropValue* FindProp(const SRow& row, ULONG ulTag);

}  // namespace MapiApi
