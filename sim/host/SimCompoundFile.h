#pragma once
// The checks Office makes of a compound file before it reads one ([MS-CFB]): the header, the
// sector allocation (FAT, DIFAT, mini FAT) and the directory must describe sectors that the file
// holds, in chains without loops, each sector in one chain only, and every stream must have the
// sectors its size needs. The platform's reader follows damaged chains without end; a file that
// passes these checks is safe to hand to it.
#include <windows.h>

#include <string>
#include <vector>

namespace Sim {

// True when the bytes begin with the compound file signature.
bool IsCompoundFile(const std::vector<BYTE>& file);
// S_OK, or STG_E_DOCFILECORRUPT with *pwsWhy saying what is wrong.
HRESULT CheckCompoundFile(const std::vector<BYTE>& file, std::wstring* pwsWhy);

}  // namespace Sim
