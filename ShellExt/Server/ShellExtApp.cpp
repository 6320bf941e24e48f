#include "ShellExtApp.h"
#include "ClassTable.h"
#include "KorvaneShellExt.h"
#include "ShellExtModule.h"

CShellExtApp theApp;

BOOL CShellExtApp::InitInstance()
{
    g_ShellExtModule.SetAutoClassTable(AutoClassTableBegin(), AutoClassTableEnd());
    if (FAILED(g_ShellExtModule.Init(g_ClassEntries, m_hInstance, &LIBID_ShellExtLib)))
        return FALSE;
    return CWinApp::InitInstance();
}

int CShellExtApp::ExitInstance()
{
    g_ShellExtModule.Term();
    // GDI is a load-time import of this library, so it is still there; deleting an object loads
    // nothing and waits for nothing the loader may hold.
    CKorvaneShellExt::FreeSharedMenuBitmap();
    return CWinApp::ExitInstance();
}
