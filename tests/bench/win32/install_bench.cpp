// The install benchmark's Win32 helper, run under Wine next to the installer:
//   install_bench copy SRCDIR DSTDIR   copies every file of SRCDIR (recursively)
//                                      with CopyFileA, the plain-copy baseline;
//   install_bench run COMMANDLINE      starts a program (the installer) and waits.
// Each prints one line: "ms=<elapsed milliseconds> peak_private=<bytes>"
// (peak_private is the started program's peak private memory; 0 for copy)
// and exits 0, or names the failure on stderr and exits 1.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>

namespace {

using GetMemoryInfo = BOOL(WINAPI*)(HANDLE, void*, DWORD);

// PROCESS_MEMORY_COUNTERS as psapi.h lays it out.
struct MemoryCounters {
  DWORD cb;
  DWORD PageFaultCount;
  SIZE_T PeakWorkingSetSize, WorkingSetSize, QuotaPeakPagedPoolUsage, QuotaPagedPoolUsage,
      QuotaPeakNonPagedPoolUsage, QuotaNonPagedPoolUsage, PagefileUsage, PeakPagefileUsage;
};

bool CopyTree(const std::string& from, const std::string& to, long long& files) {
  CreateDirectoryA(to.c_str(), nullptr);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((from + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  do {
    if (!strcmp(found.cFileName, ".") || !strcmp(found.cFileName, "..")) continue;
    const std::string source = from + "\\" + found.cFileName, target = to + "\\" + found.cFileName;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ok = CopyTree(source, target, files) && ok;
    } else if (CopyFileA(source.c_str(), target.c_str(), FALSE)) {
      ++files;
    } else {
      fprintf(stderr, "install_bench: cannot copy %s (error %lu)\n", source.c_str(), GetLastError());
      ok = false;
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return ok;
}

int Run(const char* commandLine) {
  std::string line = commandLine;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  const DWORD start = GetTickCount();
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    fprintf(stderr, "install_bench: cannot start %s (error %lu)\n", commandLine, GetLastError());
    return 1;
  }
  // Wine keeps no counters for a process that has ended: the peak is taken
  // while it runs, from the counters sampled every few milliseconds.
  GetMemoryInfo info = (GetMemoryInfo)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "K32GetProcessMemoryInfo");
  SIZE_T peak = 0;
  for (;;) {
    const DWORD waited = WaitForSingleObject(pi.hProcess, 5);
    MemoryCounters counters = {};
    counters.cb = sizeof counters;
    if (info && info(pi.hProcess, &counters, sizeof counters)) {
      if (counters.PeakPagefileUsage > peak) peak = counters.PeakPagefileUsage;
      if (counters.PagefileUsage > peak) peak = counters.PagefileUsage;
    }
    if (waited != WAIT_TIMEOUT) break;
  }
  const DWORD elapsed = GetTickCount() - start;
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  printf("ms=%lu peak_private=%lu exit=%lu\n", elapsed, (unsigned long)peak, code);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && !strcmp(argv[1], "copy")) {
    long long files = 0;
    const DWORD start = GetTickCount();
    const bool ok = CopyTree(argv[2], argv[3], files);
    printf("ms=%lu peak_private=0 files=%lld\n", GetTickCount() - start, files);
    return ok ? 0 : 1;
  }
  if (argc == 3 && !strcmp(argv[1], "run")) return Run(argv[2]);
  fprintf(stderr, "usage: install_bench copy SRCDIR DSTDIR | install_bench run COMMANDLINE\n");
  return 1;
}
