#pragma once
// The operating-system version as major × 256 + minor (0x0A00: a system that hosts the embedded
// browser). Fixed once at process start, before any window exists; read from any thread.

inline constexpr int kOsVersionWithBrowser = 0x0A00;

// The version this system reports. Desktops that run Qt WebEngine report 0x0A00; on Windows it is
// the version the system records for the process.
int detectOsVersion();

// The program-wide value. Until setOsVersion is called it is detectOsVersion().
int osVersion();

// Start-up sets the detected value; tests set other values (0x0603) for the older-system paths.
void setOsVersion(int version);
