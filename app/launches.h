// The launcher's output: one started program, from its own folder under the install path.
#pragma once

extern const char kDriverInstallerPath[];

// Each takes the run's install path as the main thread read it.
void LaunchDirectXSetup(const char* installPath);
void LaunchDriverInstaller(const char* installPath);
