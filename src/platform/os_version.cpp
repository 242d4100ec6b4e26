#include "platform/os_version.h"

#include <QOperatingSystemVersion>

#include <atomic>

namespace {
// -1 until the value is fixed; written by start-up (GUI thread), read by any thread.
std::atomic<int> g_osVersion{-1};
} // namespace

int detectOsVersion()
{
#ifdef _WIN32
    // Qt reads the version the system records for the process (not the compatibility-adjusted
    // result of the classic version query).
    const auto current = QOperatingSystemVersion::current();
    return (current.majorVersion() << 8) | (current.minorVersion() & 0xFF);
#else
    // Linux and other desktops host the embedded browser through Qt WebEngine.
    return kOsVersionWithBrowser;
#endif
}

int osVersion()
{
    int version = g_osVersion.load();
    if (version < 0) {
        version = detectOsVersion();
        int expected = -1;
        g_osVersion.compare_exchange_strong(expected, version);
        version = g_osVersion.load();
    }
    return version;
}

void setOsVersion(int version)
{
    g_osVersion.store(version);
}
