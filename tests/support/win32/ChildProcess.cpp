// Windows backend of support/ChildProcess.h: CreateProcessW runs this .exe
// again with the child marker; its standard output is an anonymous pipe.
// Under Wine the child is a Windows process like the parent, so the same
// code holds there.
#include "support/ChildProcess.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdio>

#include "support/ChildProcessMarker.h"
#include "support/TempDir.h"

namespace {

// The exit code TerminateProcess gives a child ended by Kill; Wait reports
// it as killed. Chosen outside the codes our roles return.
constexpr UINT KILLED_EXIT_CODE = 0x4B494C4C;

// One argument quoted by the rules CommandLineToArgvW and the C runtime
// undo: backslashes are literal unless they precede a quote.
std::wstring QuoteArgument(const std::wstring& arg) {
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
    } else {
      out.append(backslashes, L'\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

HANDLE AsHandle(long long value) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value)); }

}  // namespace

CChildProcess::CChildProcess(const std::string& role, const std::vector<std::string>& args) {
  wchar_t exe[MAX_PATH * 4];
  const DWORD length = ::GetModuleFileNameW(nullptr, exe, MAX_PATH * 4);
  if (length == 0 || length >= MAX_PATH * 4) {
    std::fprintf(stderr, "CChildProcess: no path of this program\n");
    return;
  }
  std::wstring commandLine = QuoteArgument(exe) + L" " + QuoteArgument(FromUtf8(CHILD_MARKER)) + L" " +
                             QuoteArgument(FromUtf8(role));
  for (const std::string& arg : args) commandLine += L" " + QuoteArgument(FromUtf8(arg));

  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
    std::fprintf(stderr, "CChildProcess: CreatePipe failed (%lu)\n", ::GetLastError());
    return;
  }
  // Only the write end goes to the child; a read end inherited by another
  // child would keep the pipe from ever reporting its end.
  ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd;
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  const BOOL created = ::CreateProcessW(exe, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                        &startup, &process);
  ::CloseHandle(writeEnd);
  if (!created) {
    std::fprintf(stderr, "CChildProcess: CreateProcessW failed (%lu)\n", ::GetLastError());
    ::CloseHandle(readEnd);
    return;
  }
  ::CloseHandle(process.hThread);
  m_nProcess = reinterpret_cast<intptr_t>(process.hProcess);
  m_nPipe = reinterpret_cast<intptr_t>(readEnd);
  m_bStarted = true;
}

CChildProcess::~CChildProcess() {
  if (m_bStarted && !m_bReaped) {
    Kill();
    Wait();
  }
  if (m_bStarted) ::CloseHandle(AsHandle(m_nProcess));
  if (m_nPipe != -1) ::CloseHandle(AsHandle(m_nPipe));
}

bool CChildProcess::ReadExactly(void* buffer, size_t size) {
  if (m_nPipe == -1) return false;
  char* out = static_cast<char*>(buffer);
  while (size > 0) {
    DWORD n = 0;
    const DWORD ask = size > 65536 ? 65536 : static_cast<DWORD>(size);
    if (!::ReadFile(AsHandle(m_nPipe), out, ask, &n, nullptr) || n == 0) return false;
    out += n;
    size -= n;
  }
  return true;
}

void CChildProcess::Kill() {
  if (m_bStarted && !m_bReaped) ::TerminateProcess(AsHandle(m_nProcess), KILLED_EXIT_CODE);
}

CChildExit CChildProcess::Wait() {
  if (!m_bStarted || m_bReaped) return m_exit;
  ::WaitForSingleObject(AsHandle(m_nProcess), INFINITE);
  m_bReaped = true;
  DWORD code = 0;
  if (!::GetExitCodeProcess(AsHandle(m_nProcess), &code)) return m_exit;
  m_exit.bKilled = code == KILLED_EXIT_CODE;
  m_exit.nCode = m_exit.bKilled ? -1 : static_cast<int>(code);
  return m_exit;
}

bool WriteToParent(const void* data, size_t size) {
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  const char* in = static_cast<const char*>(data);
  while (size > 0) {
    DWORD n = 0;
    const DWORD ask = size > 65536 ? 65536 : static_cast<DWORD>(size);
    if (!::WriteFile(out, in, ask, &n, nullptr) || n == 0) return false;
    in += n;
    size -= n;
  }
  return true;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  for (int k = 0; k < count; ++k) args.push_back(ToUtf8(wide[k]));
  ::LocalFree(wide);
  return args;
}
