#pragma once

class QWidget;

// Window-system steps that exist on Windows only (platform_window_win.cpp);
// elsewhere they do nothing and report so (platform_window_unix.cpp).

// Lets file drops from the ordinary shell reach this process when it runs
// elevated (the shell runs at a lower integrity level): WM_DROPFILES and
// WM_COPYGLOBALDATA pass the message filter. Process-wide. The filter
// function is looked up at run time; true when it was found and took both
// messages.
bool AllowDropsFromLowerIntegrity();

// Asks the desktop window manager for a dark title bar on the form's native
// window (DwmSetWindowAttribute, looked up at run time, attribute 20). True
// when the window manager accepted it; a system without the attribute keeps
// its usual title bar.
bool RequestDarkTitleBar(QWidget *form);
