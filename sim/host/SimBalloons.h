#pragma once
// The balloon tips that add-ins show in Office's windows: tracking tooltips of Office's thread,
// followed through a window-procedure hook as their messages arrive (their stem point and texts
// cannot be read back from the tooltip window).
#include <windows.h>

#include <map>
#include <string>

namespace Sim {

struct SBalloon {
  std::wstring wsTitle;
  std::wstring wsText;
  POINT ptStem = {};        // screen coordinates of the tracking point the stem touches
  UINT cbToolInfo = 0;      // the size of the tool record the tooltip was given
  DWORD dwComCtlMajor = 0;  // the version of the common controls that made the tooltip
  bool bTracking = false;
};

class CBalloonWatch {
 public:
  // Watches the calling thread's windows.
  CBalloonWatch();
  ~CBalloonWatch();
  CBalloonWatch(const CBalloonWatch&) = delete;
  CBalloonWatch& operator=(const CBalloonWatch&) = delete;
  // The tooltips of the thread that track a point and are on screen, by window.
  std::map<HWND, SBalloon> Shown() const;

 private:
  static LRESULT CALLBACK Hook(int nCode, WPARAM wParam, LPARAM lParam);
  std::map<HWND, SBalloon> m_balloons;
};

}  // namespace Sim
