#pragma once

#include <QString>

// Shell folder numbers understood by GetSpecialFolder.
inline constexpr int CSIDL_DESKTOP = 0x00;
inline constexpr int CSIDL_FONTS = 0x14;
inline constexpr int CSIDL_INTERNET_CACHE = 0x20;

// Formats the program's four-part version (major, minor, release, build) with
// a printf-style pattern of up to four "%d", e.g. "%d.%d.%d" -> "1.0.0".
QString GetVersionString(const QString &format);

// Path of a user folder, without a trailing separator: CSIDL_DESKTOP (the
// desktop), CSIDL_FONTS (the first font folder that exists) or
// CSIDL_INTERNET_CACHE (the user's cache folder, created when missing).
// Any other number gives an empty text.
QString GetSpecialFolder(int csidl);

// Hands a web address to the desktop's browser. Only http and https
// addresses are opened; anything else (a local program, file:, a UNC path)
// is refused. Returns whether the address was handed over.
bool OpenDocument(const QString &url);

// Folder of the running executable, ending with '/'. It holds vendor/ (the
// external programs) and Zarvelo.ini (the settings).
QString ProgramFolder();

// Folder of the settings file Zarvelo.ini, ending with '/': ProgramFolder()
// when a file can be made there (portable use), else the user's configuration
// folder + "Zarvelo/" (made when a setting is first written). The program as
// installed (in the folder it was installed to) always uses the user's
// folder. Decided once per program folder.
QString SettingsFolder();

// Makes ProgramFolder() answer the given folder instead (tests use a folder
// of their own so that settings files never collide). Empty restores the
// executable's folder.
void SetProgramFolder(const QString &folder);

// Scheme and host of the program's web addresses (home page, donate page,
// update service), fixed at build time.
QString WebHost();
