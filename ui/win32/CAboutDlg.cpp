#include "ui/win32/CAboutDlg.h"

#include "i18n/WideText.h"
#include "ui/DialogTexts.h"
#include "ui/win32/ResourceIds.h"
#include "update/Texts.h"
#include "velmora/Version.h"

namespace velmora::ui {

using i18n::wide;

INT_PTR CAboutDlg::doModal(HWND owner) {
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(VELMORA_IDD_ABOUT), owner,
                             &CAboutDlg::dialogProc, 0);
}

INT_PTR CALLBACK CAboutDlg::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
        case WM_INITDIALOG:
            // The box speaks of the product, not of this copy: no instance number.
            ::SetDlgItemTextW(window, VELMORA_IDC_ABOUT_TITLE, wide(texts::kProductTitle).c_str());
            ::SetWindowTextW(window, wide(labels::shown(labels::kAboutCaption)).c_str());
            ::SetDlgItemTextW(window, VELMORA_IDC_ABOUT_VERSION,
                              wide(labels::shown(labels::kAboutVersion) + kVersion).c_str());
            ::SetDlgItemTextW(window, VELMORA_IDC_ABOUT_LINE,
                              wide(labels::shown(labels::kAboutLine)).c_str());
            ::SetDlgItemTextW(window, VELMORA_IDC_ABOUT_OK, wide(labels::shown(labels::kOk)).c_str());
            // The focus on OK, not on the read-only title, which would show its text selected.
            ::SetFocus(::GetDlgItem(window, VELMORA_IDC_ABOUT_OK));
            return FALSE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                ::EndDialog(window, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace velmora::ui
