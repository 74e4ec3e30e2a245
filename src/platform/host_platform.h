// Facts about the host and running a program with its output captured.
#pragma once

#include <string>
#include <vector>

namespace vm {

// "linux" (without package type) or "linux deb" / "linux rpm" (with it). The
// distribution is read once per process from /etc/os-release through cat.
std::string operatingSystem(bool withPackageType);

// "linux rpm" when the lower-cased os-release text names an rpm-based
// family anywhere, else "linux deb" (also for empty text).
std::string linuxPackageType(const std::string& lowerOsRelease);

// The build's word size: "64" on x86-64.
std::string buildBitness();
// The build's architecture as the window title names it: ".x64" on x86-64,
// ".arm64", ".x86", and ".other" for any other.
std::string architectureSuffix();

// The local IPv4 address the system would send from to host (a UDP socket
// connected toward it; no packet leaves), as dotted text; "127.0.0.1" when
// host does not resolve or no route leads there.
std::string localAddressToward(const std::string& host);

// Runs program with parameters and answers its standard output: every block
// read from the pipe followed by separator. Empty text when it cannot be
// started. program is looked up on PATH unless it contains "/"; parameters
// are split at blanks outside double quotes (no shell is involved). hidden
// has no meaning on Linux: started programs never get a window from us.
std::string runAndCapture(const std::string& program, const std::string& parameters,
                          const std::string& workingFolder, const std::string& separator,
                          bool hidden);

// The argument split used by runAndCapture: blanks and tabs separate
// arguments, double quotes group and are removed.
std::vector<std::string> splitParameters(const std::string& parameters);

}  // namespace vm
