// The launcher's output: one started program, from its own folder under the install path.
#pragma once

extern const char kDriverInstallerPath[];

void LaunchFromInstallPath(const char* folder, const char* program);
void LaunchDirectXSetup();
void LaunchDriverInstaller();
