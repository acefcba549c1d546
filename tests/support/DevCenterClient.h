#pragma once
// Control of the development center from GoogleTest programs.
//
// A folder tests/unit/<name>/ that holds a file named "needs-devcenter" is run
// with a development center started for it (run_under_wine.py --with-devcenter).
// Its URLs arrive in the environment:
//   ORIVANTA_TEST_CENTER_URL      API base, e.g. http://127.0.0.1:PORT/support-center
//   ORIVANTA_TEST_CENTER_CONTROL  control base, e.g. http://127.0.0.1:PORT/__control
// Both editions have a small demo installer package (a real program that, when
// launched, writes "<its path>.launched.txt" and exits 0).
//
// Typical test:
//   DevCenterClient center;                        // throws when no center was started
//   center.Reset();                                // sessions, counters, log, queue, faults, packages
//   App().centerBaseUrl = center.CenterUrl();
//   center.SetFaults(R"({"deviceLimit":1,"node":{"cutAfterBytes":1000,"times":1}})");
//   center.QueueAnswer("reuse", 409, R"({"errorCode":"INSTALLER_PACKAGE_NO_LONGER_CURRENT"})");
//   ... run the code under test ...
//   std::string log = center.Log("kind=api&operation=start&last=1");
//   EXPECT_EQ(JsonStringField(log, "body"), R"({"deviceId":...})");
//   EXPECT_EQ(center.DownloadsCounted(deviceId), 1);
//
// Faults (POST /__control/faults merges the members given; Reset restores start-up values):
//   deviceLimit (int|null)        downloads counted per device; start at offset 0 beyond it is
//                                 refused 403 "DEVICE_DOWNLOAD_LIMIT_REACHED", prepare says isAllowed false
//   refusePrepare (bool)          prepare answers isAllowed false
//   rejectionReason (text|null)   rejectionReason of a refusal ("" for none); null = center's text
//   limitMessage (text|null)      message of the limit refusal ("" for none); null = center's text
//   urlLifetimeSeconds (int)      validity of download URLs (negative: already expired -> 403)
//   node.ignoreRange (bool)       answer 200 with the whole package to "Range: bytes=N-"
//   node.cutAfterBytes (int)      close the connection after N body bytes
//   node.throttleBytesPerSecond   send no faster than N bytes per second
//   node.corruptOffset (int)      flip the package byte at offset N
//   node.status (int)             answer downloads with this status and no package
//   node.retryAfter (text)        with it the header Retry-After (seconds or an HTTP date)
//   node.stallAfterBytes (int)    fall silent after N body bytes until the client leaves
//   node.expireUrl (bool)         the URL expires at this download: 403 from now on
//   node.times (int)              the node faults last for N downloads, then clear themselves
//   nodeSequence ([{...}])        node faults for the next downloads, one set each, then node again
// The center itself: downloads are counted per device at every start with offset 0; a
// start with a known session and a positive offset no greater than the bytes the node has
// sent for it (and the package still current) is not counted; otherwise the offset is
// refused 409 "DOWNLOAD_OFFSET_INVALID". Reuse of a package id that is not current is
// refused 409 "INSTALLER_PACKAGE_NO_LONGER_CURRENT".
//
// Every call throws std::runtime_error when the control API cannot be reached or refuses.

#include <cstdint>
#include <string>

namespace orivanta::test {

class DevCenterClient {
public:
    // From ORIVANTA_TEST_CENTER_URL and ORIVANTA_TEST_CENTER_CONTROL.
    DevCenterClient();
    DevCenterClient(std::wstring centerUrl, std::wstring controlUrl);

    const std::wstring& CenterUrl() const { return centerUrl_; }
    const std::wstring& ControlUrl() const { return controlUrl_; }

    // Back to the start-up state: no sessions, counters, log entries, queued answers or changed faults.
    void Reset();
    // Merges a JSON fault object (see above); returns the resulting faults as JSON.
    std::string SetFaults(const std::string& faultsJson);
    // The next call of operation ("prepare", "reuse" or "start") gets this status and JSON body.
    void QueueAnswer(const std::string& operation, unsigned long status, const std::string& bodyJson);
    // A full queue request, for the other options: {"operation", "status", "body" | "bodyText" |
    // "bodySize" (pads body to exactly that many bytes), "cutAfterBytes", "delayMs", "times"}.
    void Queue(const std::string& queueJson);
    // {"entries":[{"seq","timeUtc","kind":"api"|"node"|"other","operation","method","path",
    // "headers":{...},"body","status","bytesSent","aborted"}]}; query e.g. "kind=node&since=3&last=1".
    std::string Log(const std::string& query = {});
    // All counters, or with a device id {"deviceId","downloads","reuses","sessions"}.
    std::string Counters(const std::string& deviceId = {});
    std::int64_t DownloadsCounted(const std::string& deviceId);
    // {"packages":[{"packageType","path","packageId","versionName","fileName","sha256","sizeBytes"}]};
    // path is where the center reads the package ("/tmp/..." on Linux).
    std::string Packages();
    // The one object of Packages() for "Server" or "ClientOnly".
    std::string Package(const std::string& packageType);
    // The package file of an edition as this program can open it (a Unix path becomes Z:\...).
    std::wstring PackageFilePath(const std::string& packageType);
    // Replaces or renames the package of an edition: {"packageType":"Server", "packageId"?,
    // "versionName"?, "fileName"?, and "path" | "generatedSize" | "demoSize" or none to rename}.
    std::string SetPackage(const std::string& packageJson);
    // Makes a session known as if started earlier: {"deviceId","sessionId","packageType",
    // "servedEnd"? (default: the whole package), "packageId"? (default: the current one)}.
    std::string SeedSession(const std::string& sessionJson);

    // The raw control calls behind the helpers; route is relative to the control base ("/log?last=1").
    std::string Get(const std::string& route);
    std::string Post(const std::string& route, const std::string& bodyJson);

private:
    std::string Call(const wchar_t* verb, const std::string& route, const std::string& bodyJson);

    std::wstring centerUrl_;
    std::wstring controlUrl_;
};

}  // namespace orivanta::test
