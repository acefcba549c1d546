#pragma once
// Command-line options, each one argument of the form name=value. They exist
// for support staff and acceptance runs; an ordinary start has none.

#include <string>

namespace orivanta {

struct DiagnosticOptions {
    std::wstring test;  // --diagnostic-test
    std::wstring lan;   // --diagnostic-lan
};

// The value of the last argument that begins with name + "="; empty when absent.
std::wstring ReadCommandLineOption(const std::wstring& commandLine, const std::wstring& name);
std::wstring ReadCommandLineOption(const std::wstring& name);

// Applies the four diagnostic options to the shared state; may raise "create directory failed".
DiagnosticOptions ReadDiagnosticOptions(const std::wstring& commandLine);
DiagnosticOptions ReadDiagnosticOptions();

// Validates and stores --server-url; raises "server URL must use HTTP or HTTPS".
void ApplyServerUrlOption(const std::wstring& commandLine);
void ApplyServerUrlOption();

// Publishes a simulated LAN result for --diagnostic-lan ("none" or a host text).
void ApplySimulatedLanResult(const std::wstring& value);

}  // namespace orivanta
