// Video codec probe and installer.
#pragma once

int ProbeCodec();   // 1 when "IR50_32.DLL" cannot be loaded, 0 when it loads
int InstallCodec(); // 1 when the registration program ran and exited with 0

// The installer as the process started with the codec job argument runs it,
// with full rights: the copy from beside its own file and the registration
// by Windows' own program, without asking for full rights again; 0 at once
// in an unpinned menu.
int RunCodecInstallJob();
