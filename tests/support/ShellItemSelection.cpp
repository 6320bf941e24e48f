#include "ShellItemSelection.h"
#include <shlobj.h>

const wchar_t kComputerItem[] = L"<computer>";

namespace {
struct IdListTraits {
    using HandleType = PIDLIST_ABSOLUTE;
    static HandleType Invalid() noexcept { return nullptr; }
    static void Close(HandleType p) noexcept { ::CoTaskMemFree(p); }
};
using CUniqueIdList = CUniqueHandle<IdListTraits>;
} // namespace

CUniqueInterface<IShellItemArray> MakeShellItemArray(const std::vector<std::wstring>& paths)
{
    std::vector<CUniqueIdList> lists;
    std::vector<PCIDLIST_ABSOLUTE> raw;
    for (const std::wstring& path : paths) {
        CUniqueIdList list;
        HRESULT hr = path == kComputerItem ? ::SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, list.Put())
                                           : ::SHParseDisplayName(path.c_str(), nullptr, list.Put(), 0, nullptr);
        if (FAILED(hr))
            return {};
        raw.push_back(list.Get());
        lists.push_back(std::move(list));
    }
    CUniqueInterface<IShellItemArray> pArray;
    if (FAILED(::SHCreateShellItemArrayFromIDLists(static_cast<UINT>(raw.size()), raw.data(), pArray.Put())))
        return {};
    return pArray;
}
