// kvcommandhost: does what Windows 11's context menu does with the Korvane command, through COM
// and the registry. Usage: kvcommandhost PATH... [/invoke "TITLE"]
// Creates the registered command by class id, hands it the paths as a shell item array, prints
// the root's title, icon and state and each shown sub-command's title and tip, and with /invoke
// carries out the sub-command of that title.
#include <windows.h>
#include <cstdio>
#include <string>
#include <vector>
#include "ExplorerCommandHost.h"
#include "ShellItemSelection.h"

namespace {
std::string Utf8(const std::wstring& s)
{
    int cb = ::WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(cb > 0 ? cb - 1 : 0, '\0');
    if (cb > 1)
        ::WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, &out[0], cb, nullptr, nullptr);
    return out;
}

std::wstring TextOf(HRESULT hr, LPCWSTR lpsz)
{
    return SUCCEEDED(hr) && lpsz ? lpsz : L"<none>";
}

int Run(int argc, wchar_t** argv)
{
    std::vector<std::wstring> paths;
    std::wstring strInvoke;
    for (int i = 1; i < argc; ++i) {
        if (::lstrcmpiW(argv[i], L"/invoke") == 0 && i + 1 < argc)
            strInvoke = argv[++i];
        else
            paths.push_back(argv[i]);
    }
    CUniqueInterface<IExplorerCommand> pRoot;
    HRESULT hr = ::CoCreateInstance(kClsidKorvaneExplorerCommand, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IExplorerCommand, pRoot.PutVoid());
    if (FAILED(hr)) {
        std::printf("CoCreateInstance failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 2;
    }
    CUniqueInterface<IShellItemArray> pSelection = MakeShellItemArray(paths);
    if (!pSelection) {
        std::printf("no shell item array for the paths\n");
        return 3;
    }
    CUniqueCoTaskText strIcon;
    hr = pRoot->GetIcon(pSelection.Get(), strIcon.Put());
    EXPCMDFLAGS flags = 0;
    pRoot->GetFlags(&flags);
    EXPCMDSTATE state = ECS_HIDDEN;
    pRoot->GetState(pSelection.Get(), TRUE, &state);
    std::printf("root \"%s\", icon %s, flags 0x%lX, %s\n", Utf8(TitleOf(pRoot.Get(), pSelection.Get())).c_str(),
                Utf8(TextOf(hr, strIcon.Get())).c_str(), static_cast<unsigned long>(flags),
                (state & ECS_HIDDEN) ? "hidden" : "shown");

    int nExit = strInvoke.empty() ? 0 : 4;
    for (ShownCommand& shown : ShownSubCommands(pRoot.Get(), pSelection.Get())) {
        CUniqueCoTaskText strTip;
        hr = shown.pCommand->GetToolTip(pSelection.Get(), strTip.Put());
        std::printf("  %s -- %s\n", Utf8(shown.strTitle).c_str(), Utf8(TextOf(hr, strTip.Get())).c_str());
        if (!strInvoke.empty() && shown.strTitle == strInvoke) {
            hr = shown.pCommand->Invoke(pSelection.Get(), nullptr);
            std::printf("  Invoke \"%s\": 0x%08lX\n", Utf8(strInvoke).c_str(), static_cast<unsigned long>(hr));
            nExit = FAILED(hr) ? 5 : 0;
        }
    }
    if (nExit == 4)
        std::printf("no shown command \"%s\"\n", Utf8(strInvoke).c_str());
    std::fflush(stdout);
    return nExit;
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    int nExit = Run(argc, argv);
    ::CoUninitialize();
    return nExit;
}
