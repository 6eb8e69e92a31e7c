#include "com_support.h"

#include <cstdio>
#include <string>
#include <vector>

namespace testing_support {

void ExpectChildPasses(const char* test) {
  wchar_t program[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, program, MAX_PATH), 0u);
  const std::string filter(test);
  std::wstring command = L"\"" + std::wstring(program) + L"\" --gtest_also_run_disabled_tests --gtest_filter=" +
                         std::wstring(filter.begin(), filter.end());
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring log = std::wstring(temp) + L"vexorin-child-" + std::to_wstring(GetCurrentProcessId()) + L".log";
  for (int attempt = 1; attempt <= 2; ++attempt) {
    // A file, not a pipe: whatever the child leaves running cannot keep the reading open.
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE writeEnd = CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writeEnd, INVALID_HANDLE_VALUE);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION child = {};
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    const BOOL started = CreateProcessW(program, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child);
    CloseHandle(writeEnd);
    if (!started) FAIL() << "the child did not start: " << GetLastError();
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(child.hProcess, &status);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    HANDLE readEnd = CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(readEnd, INVALID_HANDLE_VALUE);
    std::string output;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) output.append(buffer, got);
    CloseHandle(readEnd);
    DeleteFileW(log.c_str());
    if (output.empty() && attempt == 1) {
      std::printf("[  child   ] ended at its start with status 0x%lx and no output; started once more\n",
                  static_cast<unsigned long>(status));
      continue;
    }
    std::printf("%s", output.c_str());
    EXPECT_EQ(status, 0u) << "the child " << test << " failed or crashed (status 0x" << std::hex << status << ")";
    return;
  }
  FAIL() << "the child " << test << " never started";
}

}  // namespace testing_support
