#include "platform_window.h"

#include <QWidget>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace
{

// WM_COPYGLOBALDATA carries the dropped file list across integrity levels;
// the SDK headers do not name it.
constexpr UINT WmCopyGlobalData = 0x0049;
constexpr DWORD MsgFltAdd = 1;
constexpr DWORD UseImmersiveDarkMode = 20;

// An exported function of a system library, or null when the system lacks
// it. The library stays loaded (it is one of the system's own).
template <typename Fn> Fn systemFunction(const wchar_t *library, const char *name)
{
    HMODULE module = GetModuleHandleW(library);
    if (!module)
        module = LoadLibraryW(library);
    if (!module)
        return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

} // namespace

bool AllowDropsFromLowerIntegrity()
{
    using FilterFn = BOOL(WINAPI *)(UINT, DWORD);
    const auto filter = systemFunction<FilterFn>(L"user32.dll", "ChangeWindowMessageFilter");
    if (!filter)
        return false;
    const bool drops = filter(WM_DROPFILES, MsgFltAdd);
    const bool data = filter(WmCopyGlobalData, MsgFltAdd);
    return drops && data;
}

bool RequestDarkTitleBar(QWidget *form)
{
    using SetAttributeFn = HRESULT(WINAPI *)(HWND, DWORD, LPCVOID, DWORD);
    if (!form)
        return false;
    const auto set = systemFunction<SetAttributeFn>(L"dwmapi.dll", "DwmSetWindowAttribute");
    if (!set)
        return false;
    const BOOL on = TRUE;
    return SUCCEEDED(set(reinterpret_cast<HWND>(form->winId()), UseImmersiveDarkMode, &on, sizeof(on)));
}
