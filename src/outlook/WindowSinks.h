#pragma once
// The window sinks of Outlook 2003, installed where the add-in puts its command bars: each main
// window follows the one message of its reading pane with a preview sink; each message window
// reports its activation and closing; Word, when it edits mail, reports its windows. Each sink
// ends itself when its window or Word closes; the explorer's also ends its preview sink.
#include <oaidl.h>

#include <string>

class CComposeRibbon;

class CExplorerEventHandler {
 public:
  static HRESULT Install(CComposeRibbon* pOwner, IDispatch* pExplorer);
};

class CInspectorEventHandler {
 public:
  static HRESULT Install(CComposeRibbon* pOwner, IDispatch* pInspector);
};

class CWordAppEventHandler {
 public:
  // pInspector: a message window that Word edits (others are refused with E_INVALIDARG);
  // wsBarName: the add-in's command bar, which Word shares between its windows.
  static HRESULT Install(IDispatch* pInspector, const std::wstring& wsBarName);
  // Word shows the add-in's mail toolbar in every window: it is hidden in a document that is no mail.
  static void OnWindowActivated(IDispatch* pWindow, IDispatch* pDocument, const std::wstring& wsBarName);
};
