// uninstall.exe: runs the NSIS uninstaller and returns only when it is done,
// so that a script that uninstalls and then looks finds nothing left. An NSIS
// uninstaller started as it is copies itself to %TEMP%, starts the copy and
// returns at once, leaving an empty ~nsu*.tmp folder behind. Here the
// uninstaller (uninstall-core.exe) runs from a folder of ours in %TEMP% with
// _?= naming the install folder, which NSIS takes as "already copied": it
// removes everything and we wait for it. Then that folder goes, and this
// program, which the system will not let delete itself while it runs, is
// moved out of the install folder (so that the folder can go) into %TEMP%,
// where the system deletes it at the next restart.
#include <windows.h>

#include <string>

namespace {

std::wstring folderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/")); }

std::wstring quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// The arguments this program was given, as one string, without its name.
std::wstring argumentsGiven() {
    std::wstring line = ::GetCommandLineW();
    std::size_t at = 0;
    if (!line.empty() && line[0] == L'"') {
        at = line.find(L'"', 1);
        at = at == std::wstring::npos ? line.size() : at + 1;
    } else {
        at = line.find(L' ');
        if (at == std::wstring::npos) at = line.size();
    }
    while (at < line.size() && line[at] == L' ') ++at;
    return line.substr(at);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    std::wstring self(32768, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    const std::wstring installed = folderOf(self);
    const std::wstring core = installed + L"\\uninstall-core.exe";

    std::wstring temp(MAX_PATH + 1, L'\0');
    temp.resize(::GetTempPathW(static_cast<DWORD>(temp.size()), temp.data()));
    if (!temp.empty() && temp.back() == L'\\') temp.pop_back();
    const std::wstring id = std::to_wstring(::GetCurrentProcessId());
    const std::wstring work = temp + L"\\px77xx-uninstall-" + id;
    const std::wstring copy = work + L"\\uninstall-core.exe";
    if (!::CreateDirectoryW(work.c_str(), nullptr) || !::CopyFileW(core.c_str(), copy.c_str(), FALSE)) {
        const std::wstring why = L"Cannot prepare the uninstaller in " + work + L" (error " +
                                 std::to_wstring(::GetLastError()) + L").";
        if (argumentsGiven().find(L"/S") == std::wstring::npos) {
            ::MessageBoxW(nullptr, why.c_str(), L"px77xx", MB_OK | MB_ICONERROR);
        }
        ::RemoveDirectoryW(work.c_str());
        return 2;
    }

    // _?= must come last, and names the folder to uninstall as it is.
    std::wstring command = quoted(copy) + L" " + argumentsGiven() + L" _?=" + installed;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    DWORD status = 1;
    if (::CreateProcessW(copy.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, work.c_str(), &startup,
                         &process)) {
        ::WaitForSingleObject(process.hProcess, INFINITE);
        ::GetExitCodeProcess(process.hProcess, &status);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    ::DeleteFileW(copy.c_str());
    ::RemoveDirectoryW(work.c_str());

    // The uninstaller removed all but this program where it went through
    // (status 0); a cancelled uninstall leaves everything as it was.
    if (status == 0 && ::GetFileAttributesW(core.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const std::wstring parked = temp + L"\\px77xx-uninstall-" + id + L".exe";
        if (::MoveFileExW(self.c_str(), parked.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            ::MoveFileExW(parked.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
            ::RemoveDirectoryW(installed.c_str());
        }
    }
    return static_cast<int>(status);
}
