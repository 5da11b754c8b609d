// Every text vexhold-serve writes itself (Simplified Chinese, like the rest of
// the product), in one place. The relays' own messages come from the relay.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vx::msg {

std::string HelpText();
std::string VersionText();
std::string UnknownOption(const std::string& arg);
std::string MissingValue(const std::string& option);
std::string SeeHelp();
std::string BadOptionValue(const std::string& option, const std::string& value,
                           const std::string& expected);

// A value from a file or the command line as the log may show it: control
// characters and bytes that are not UTF-8 escaped (\xNN), and cut after
// `limit` characters with the full length said.
std::string Printable(std::string_view value, std::size_t limit = 64);

std::string FileCreated(const std::string& path);
std::string FileUnusable(const std::string& path);
std::string CreateFailed(const std::string& path, const std::string& reason);
std::string BadCount(const std::string& text);
std::string CountTooLarge(int count, int served);
std::string BadLocalPort(int section, const std::string& text);
std::string BadRemoteAddress(int section, const std::string& text);
std::string BadRemoteHost(int section, const std::string& text);
std::string BadRemotePort(int section, const std::string& text);
std::string DuplicateLocalPort(int section, unsigned port, int firstSection);

std::string Starting(const std::string& path, bool canReload);
std::string StartingPair(int section, unsigned localPort, const std::string& host,
                         unsigned remotePort);
std::string StoppingPair(int section, unsigned localPort, const std::string& host,
                         unsigned remotePort);
std::string RunningSummary(int running, int configured);
std::string NothingRunning();
std::string StopRequested();
std::string StillWaiting(int left);
std::string ForcedExit();
std::string Stopped();
std::string ReloadRequested(const std::string& path);
std::string ReloadKeptOld();
std::string ReloadDone(int kept, int stopped, int started);
std::string ConnectionOpened(unsigned localPort, const std::string& peer);
std::string ConnectionClosed(unsigned localPort, const std::string& peer);
std::string LinesDropped(unsigned long long n);

std::string OpenFileLimitRaised(long before, long now);
std::string PairFigures(int section, unsigned localPort, const std::string& host,
                        unsigned remotePort, unsigned long long open, unsigned long long served,
                        unsigned long long refused, unsigned long long up, unsigned long long down);
std::string ConnectionLimitReached(unsigned localPort, int limit);
std::string ConnectionLimitBurstEnded(unsigned localPort, unsigned long long refused);
std::string NameUnresolved(unsigned localPort, const std::string& name, int code);
std::string DescriptorsAvailableAgain(unsigned localPort, unsigned long long failures);

// --watch.
std::string Watching(const std::string& path);
std::string WaitingForChanges();
std::string WatchFileChanged(const std::string& path);
std::string WatchFileMissing(const std::string& path);
std::string WatchFailed(const std::string& dir, int error);
std::string WatchResumed(const std::string& dir);

// The Windows service.
std::string BadServiceName(const std::string& text);
std::string ConflictingModes();
std::string NeedAdmin();
std::string ServiceInstalled(const std::string& name, const std::string& dir);
std::string ServiceExists(const std::string& name);
std::string ServiceDirMissing(const std::string& dir);
std::string ServiceDisplayName(const std::string& name);
std::string ServiceDescription(const std::string& dir);
std::string ServiceInstallFailed(const std::string& name, unsigned long error);
std::string ServiceMissing(const std::string& name);
std::string ServiceRemoved(const std::string& name);
std::string ServiceRemovedLater(const std::string& name);
std::string ServiceRemoveFailed(const std::string& name, unsigned long error);
std::string NotUnderServiceManager();
std::string ServiceStarted(const std::string& name, const std::string& path);
std::string ServiceStopped(const std::string& name);
std::string ServiceStartFailed(const std::string& name, int exitCode, const std::string& logPath);
std::string ServiceParamChange();
std::string ServiceStopOverdue(int waitedMs);
std::string LogFileUnusable(const std::string& path);

}  // namespace vx::msg
