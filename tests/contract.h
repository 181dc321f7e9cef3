// What the launcher reads, writes and starts, named once for every test (host, fuzz, the
// end-to-end driver, the benchmark): the registry's keys and values, and the programs under
// the install path, each in its folder.
#pragma once

inline const char kDirectXKey[] = "Software\\Microsoft\\DirectX";
inline const char kDirectXValue[] = "Version";
inline const char kInstallKey[] = "SOFTWARE\\Orvalent";
inline const char kInstallValue[] = "QB62_INSTALL_PATH";
inline const char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline const char kRunOnceValue[] = "OV_INSTALLER";
inline const char kDriverFolder[] = "PX_Drivers\\";
inline const char kDriverChild[] = "PX_Drivers\\QuaverlineDrivers40.exe";
inline const char kSetupFolder[] = "DirectX\\9.0\\";
inline const char kSetupChild[] = "DirectX\\9.0\\dxsetup.exe";
