#include "CmdTarget.h"

IMPLEMENT_DYNAMIC(CCmdTarget, CObject)

const MessageMap* CCmdTarget::GetThisMessageMap()
{
    static const MessageMapEntry entries[] = {{0, 0, 0, nullptr}};
    static const MessageMap messageMap = {nullptr, entries};
    return &messageMap;
}

const MessageMapEntry* CCmdTarget::FindMessageEntry(UINT nMessage, UINT nCode, UINT nID) const
{
    for (const MessageMap* pMap = GetMessageMap(); pMap;
         pMap = pMap->pfnGetBaseMap ? pMap->pfnGetBaseMap() : nullptr) {
        for (const MessageMapEntry* p = pMap->lpEntries; p->pfnThunk; ++p) {
            if (p->nMessage != nMessage)
                continue;
            if (nMessage != WM_COMMAND || (p->nID == nID && p->nCode == nCode))
                return p;
        }
    }
    return nullptr;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode)
{
    const MessageMapEntry* pEntry = FindMessageEntry(WM_COMMAND, static_cast<UINT>(nCode), nID);
    if (!pEntry)
        return FALSE;
    pEntry->pfnThunk(this, 0, 0);
    return TRUE;
}
