#pragma once
// The About box on Windows, from dialog template 100: the product's title without a copy number, one line of
// text and OK.

#include <windows.h>

namespace velmora::ui {

class CAboutDlg {
  public:
    // Runs the box modally over owner; returns when OK, Escape or the close box has ended it.
    INT_PTR doModal(HWND owner);

  private:
    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

}  // namespace velmora::ui
