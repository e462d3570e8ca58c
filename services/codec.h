// Video codec probe and installer.
#pragma once

int ProbeCodec();   // 1 when "IR50_32.DLL" cannot be loaded, 0 when it loads
int InstallCodec(); // 1 when the registration program ran and exited with 0

// The installer as the process started with the codec job argument runs it:
// the same copy and registration, without asking for full rights again.
int RunCodecInstallJob();
