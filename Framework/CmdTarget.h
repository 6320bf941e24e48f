#pragma once
// Command targets and message maps. A class binds window messages and command ids to its handler
// methods with a table (BEGIN_MESSAGE_MAP ... END_MESSAGE_MAP); tables chain to the base class's,
// so a derived class's entry wins and everything else falls through to the base.
#include "Object.h"

class CCmdTarget;

// One table row: the message (WM_COMMAND for commands), for commands the notification code and
// id, and a thunk that unpacks WPARAM/LPARAM and calls the typed handler.
struct MessageMapEntry {
    UINT nMessage;
    UINT nCode;
    UINT nID;
    LRESULT (*pfnThunk)(CCmdTarget* pTarget, WPARAM wParam, LPARAM lParam);
};

struct MessageMap {
    const MessageMap* (*pfnGetBaseMap)();
    const MessageMapEntry* lpEntries; // ends with a row whose thunk is null
};

class CCmdTarget : public CObject {
    DECLARE_DYNAMIC(CCmdTarget)
public:
    CCmdTarget() = default;

    // Finds the first row for a message (or command id and code) in this class's chain of tables.
    const MessageMapEntry* FindMessageEntry(UINT nMessage, UINT nCode, UINT nID) const;
    // Routes a command (menu item, button) to its handler; TRUE when one handled it.
    virtual BOOL OnCmdMsg(UINT nID, int nCode);

    virtual const MessageMap* GetMessageMap() const { return GetThisMessageMap(); }

protected:
    static const MessageMap* GetThisMessageMap();
};

#define DECLARE_MESSAGE_MAP()                                                                          \
protected:                                                                                             \
    static const MessageMap* GetThisMessageMap();                                                      \
    const MessageMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                         \
    const MessageMap* theClass::GetMessageMap() const { return GetThisMessageMap(); }                  \
    const MessageMap* theClass::GetThisMessageMap()                                                    \
    {                                                                                                  \
        using ThisClass = theClass;                                                                    \
        using TheBaseClass = baseClass;                                                                \
        static const MessageMapEntry entries[] = {

#define END_MESSAGE_MAP()                                                                              \
    {0, 0, 0, nullptr}};                                                                               \
    static const MessageMap messageMap = {&TheBaseClass::GetThisMessageMap, entries};                  \
    return &messageMap;                                                                                \
    }

// LRESULT Handler(WPARAM, LPARAM)
#define ON_MESSAGE(message, memberFxn)                                                                 \
    {message, 0, 0, [](CCmdTarget* p, WPARAM w, LPARAM l) -> LRESULT {                                 \
         return static_cast<ThisClass*>(p)->memberFxn(w, l);                                           \
     }},

// void Handler() for a menu command or a button click
#define ON_COMMAND(id, memberFxn)                                                                      \
    {WM_COMMAND, 0, static_cast<UINT>(id), [](CCmdTarget* p, WPARAM, LPARAM) -> LRESULT {             \
         static_cast<ThisClass*>(p)->memberFxn();                                                      \
         return 0;                                                                                     \
     }},

// void OnPaint()
#define ON_WM_PAINT()                                                                                  \
    {WM_PAINT, 0, 0, [](CCmdTarget* p, WPARAM, LPARAM) -> LRESULT {                                    \
         static_cast<ThisClass*>(p)->OnPaint();                                                        \
         return 0;                                                                                     \
     }},

// HCURSOR OnQueryDragIcon()
#define ON_WM_QUERYDRAGICON()                                                                          \
    {WM_QUERYDRAGICON, 0, 0, [](CCmdTarget* p, WPARAM, LPARAM) -> LRESULT {                            \
         return reinterpret_cast<LRESULT>(static_cast<ThisClass*>(p)->OnQueryDragIcon());              \
     }},

// void OnSize(UINT nType, int cx, int cy)
#define ON_WM_SIZE()                                                                                   \
    {WM_SIZE, 0, 0, [](CCmdTarget* p, WPARAM w, LPARAM l) -> LRESULT {                                 \
         static_cast<ThisClass*>(p)->OnSize(static_cast<UINT>(w), static_cast<short>(LOWORD(l)),       \
                                            static_cast<short>(HIWORD(l)));                            \
         return 0;                                                                                     \
     }},
