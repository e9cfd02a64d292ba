// Windows twin of tests/support/RunProcess.cpp: CreateProcessW with both output streams read
// through pipes by two threads, and no standard input.
#include "tests/support/RunProcess.h"

#include <stdexcept>
#include <thread>

#include "platform/win32/WinApi.h"

namespace kvelv::test {

namespace {

using platform::win32::Widen;

// One argument quoted the way CommandLineToArgvW reads it back.
std::wstring Quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') out.append(backslashes * 2 + 1, L'\\');
    else out.append(backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  out += L'"';
  return out;
}

void Drain(HANDLE pipe, std::string& into) {
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) into.append(buffer, got);
}

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& argv,
                         const std::string& workingFolder) {
  std::wstring commandLine;
  for (const std::string& arg : argv) {
    if (!commandLine.empty()) commandLine += L' ';
    commandLine += Quote(Widen(arg));
  }
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  if (!CreatePipe(&outRead, &outWrite, &inherit, 0) || !CreatePipe(&errRead, &errWrite, &inherit, 0))
    throw std::runtime_error("cannot create pipes");
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                           nullptr);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul;
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION info{};
  std::wstring folder = Widen(workingFolder);
  BOOL started = CreateProcessW(Widen(program).c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                workingFolder.empty() ? nullptr : folder.c_str(), &startup, &info);
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
  if (!started) {
    CloseHandle(outRead);
    CloseHandle(errRead);
    throw std::runtime_error("cannot start " + program);
  }
  ProcessResult result;
  std::thread errReader([&] { Drain(errRead, result.err); });
  Drain(outRead, result.out);
  errReader.join();
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  result.exitCode = static_cast<int>(code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  CloseHandle(outRead);
  CloseHandle(errRead);
  return result;
}

}  // namespace kvelv::test
